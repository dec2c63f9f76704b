// The web extension: "web:request" queues a GET whose exchange is stepped once per frame and whose 200 answer
// reaches the script as an event named by the request; "web:urlencode" percent-encodes a value's text.
#include <cstdio>
#include <deque>
#include <vector>

#include "ext_header.h"
#include "gprint.h"
#include "kiv_util.h"
#include "kiv_web.h"

// The open exchanges, at most KIV_WEB_OPEN_MAX, and the requests waiting for one of them; both in the order
// the requests were made, since a waiting request opens only after every earlier one.
static std::vector<WebRequestExt *> web_reqs;
static std::deque<WebRequestExt *> web_waiting;

// A waiting request starts its name lookup, socket and inactivity allowance only now.
static void _web_open_waiting() {
    while (!web_waiting.empty() && web_reqs.size() < (size_t)KIV_WEB_OPEN_MAX) {
        WebRequestExt *r = web_waiting.front();
        web_waiting.pop_front();
        r->exec();
        web_reqs.push_back(r);
    }
}

void game_web_queue(Game &game, WebRequestExt *r) {
    if (web_waiting.empty() && web_reqs.size() < (size_t)KIV_WEB_OPEN_MAX) {
        r->exec();
        web_reqs.push_back(r);
        return;
    }
    if (web_waiting.empty())
        gprint("web_queue: %d exchanges open, later requests wait their turn\n", KIV_WEB_OPEN_MAX);
    web_waiting.push_back(r);
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
        // The freed place goes to the oldest waiting request, stepped in this walk when it reaches the end.
        _web_open_waiting();
    }
}

void ext_web_deinit(Game &game) {
    for (WebRequestExt *r : web_reqs)
        delete r;
    web_reqs.clear();
    for (WebRequestExt *r : web_waiting)
        delete r;
    web_waiting.clear();
}
