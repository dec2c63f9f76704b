// The web extension: "web:request" queues a GET whose exchange is stepped once per frame and whose 200 answer
// reaches the script as an event named by the request; "web:urlencode" percent-encodes a value's text.
#include <cstdio>
#include <vector>

#include "ext_header.h"
#include "gprint.h"
#include "kiv_util.h"
#include "kiv_web.h"

static std::vector<WebRequestExt *> web_reqs;

void game_web_queue(Game &game, WebRequestExt *r) {
    r->exec();
    web_reqs.push_back(r);
}

void ext_web_init(Game &game) {
    fprintf(stderr, "ext_web_init\n");
}

var ext_web_call(Game &game, std::string action, var value) {
    if (action == "web:request") {
        WebRequestExt *r = new WebRequestExt();
        r->host = value["host"].__str__();
        if (value.__type__() == VAR_DICT && value.__has__(var("port")))
            r->port = kiv_d2i(value["port"].__num__());
        r->request = value["path"].__str__();
        if (value.__type__() == VAR_DICT && value.__has__(var("callback")))
            r->_callback = value["callback"].__str__();
        game_web_queue(game, r);
        return var();
    }
    if (action == "web:urlencode")
        return var(web_urlencode(value.__str__()));
    return var();
}

void ext_web_loop(Game &game) {
    static std::vector<kiv_web *> pages;
    pages.clear();
    for (WebRequestExt *r : web_reqs)
        pages.push_back(r->page);
    kiv_web_ready_all(pages.data(), (int)pages.size());
    // By index: an event handler may queue a new request, which moves the vector.
    for (size_t i = 0; i < web_reqs.size();) {
        WebRequestExt *r = web_reqs[i];
        if (!r->poll()) {
            i++;
            continue;
        }
        if (r->has_error()) {
            gprint("web_loop %p: failure\n", (void *)r);
        } else if (r->get_status() != 200) {
            gprint("web_loop %p: status = %d\n", (void *)r, r->get_status());
        } else if (!r->_callback.empty()) {
            var evt = var_dict();
            evt["type"] = var(r->_callback);
            evt["value"] = var(r->get_response());
            ext_do_event(game, evt);
        }
        r->close();
        // The handler may have queued requests, but the entry at i is still this one.
        web_reqs.erase(web_reqs.begin() + (long)i);
        delete r;
    }
}

void ext_web_deinit(Game &game) {
    for (WebRequestExt *r : web_reqs)
        delete r;
    web_reqs.clear();
}
