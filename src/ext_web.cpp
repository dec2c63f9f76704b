// The web extension: "web:request" queues a GET whose exchange is stepped once per frame and whose 200 answer
// reaches the script as an event named by the request; "web:urlencode" percent-encodes a value's text.
#include <cinttypes>
#include <cstdio>
#include <deque>
#include <utility>
#include <vector>

#include "ext_header.h"
#include "gprint.h"
#include "kiv_util.h"
#include "kiv_web.h"

struct _WebExtData {
    // The open exchanges, at most KIV_WEB_OPEN_MAX, and the requests waiting for one of them; both in the order
    // the requests were made, since a waiting request opens only after every earlier one.
    std::vector<WebRequestExt *> reqs;
    std::deque<WebRequestExt *> waiting;
    std::vector<kiv_web *> pages; // the open exchanges' pages, stepped together each frame
};

static _WebExtData _web_ext;

// A waiting request starts its name lookup, socket and inactivity allowance only now.
static void _web_open_waiting() {
    while (!_web_ext.waiting.empty() && _web_ext.reqs.size() < (size_t)KIV_WEB_OPEN_MAX) {
        WebRequestExt *r = _web_ext.waiting.front();
        _web_ext.waiting.pop_front();
        r->exec();
        _web_ext.reqs.push_back(r);
    }
}

void game_web_queue(Game &game, WebRequestExt *r) {
    if (_web_ext.waiting.empty() && _web_ext.reqs.size() >= (size_t)KIV_WEB_OPEN_MAX)
        gprint("web_queue: %d exchanges open, later requests wait their turn\n", KIV_WEB_OPEN_MAX);
    _web_ext.waiting.push_back(r);
    _web_open_waiting();
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
        // Without a path the request line would name none ("GET  HTTP/1.0"); the site's root is what is meant.
        r->request = value["path"].__str__();
        if (r->request.empty())
            r->request = "/";
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
    std::vector<kiv_web *> &pages = _web_ext.pages;
    pages.clear();
    for (WebRequestExt *r : _web_ext.reqs)
        pages.push_back(r->page);
    kiv_web_ready_all(pages.data(), (int)pages.size());
    // By index: an event handler may queue a new request, which moves the vector.
    for (size_t i = 0; i < _web_ext.reqs.size();) {
        WebRequestExt *r = _web_ext.reqs[i];
        if (!r->poll()) {
            i++;
            continue;
        }
        // Not %p, which Windows' C library prints without the 0x that the log's readers look for.
        if (r->has_error()) {
            gprint("web_loop 0x%" PRIxPTR ": failure\n", (uintptr_t)r);
        } else if (r->get_status() != 200) {
            gprint("web_loop 0x%" PRIxPTR ": status = %d\n", (uintptr_t)r, r->get_status());
        } else if (!r->_callback.empty()) {
            // The body goes straight into the event's string, so a large answer is copied once on this side.
            std::string body;
            r->get_response(body);
            var evt = var_dict();
            evt["type"] = var(r->_callback);
            evt["value"] = var(std::move(body));
            ext_do_event(game, evt);
        }
        r->close();
        // The handler may have queued requests, but the entry at i is still this one.
        _web_ext.reqs.erase(_web_ext.reqs.begin() + (long)i);
        delete r;
        // The freed place goes to the oldest waiting request, stepped in this walk when it reaches the end.
        _web_open_waiting();
    }
}

void ext_web_deinit(Game &game) {
    for (WebRequestExt *r : _web_ext.reqs)
        delete r;
    _web_ext.reqs.clear();
    for (WebRequestExt *r : _web_ext.waiting)
        delete r;
    _web_ext.waiting.clear();
}
