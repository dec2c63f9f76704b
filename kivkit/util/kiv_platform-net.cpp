// The process's name lookups, the same on every system: the cache of found names and the lookups beside the frame
// loop, one per name however many wait on it. The HTTP client and the network extension call it; only the
// resolver call itself (kiv_net_resolve4) differs by system.
#include "kiv_platform-net.h"

#include <atomic>
#include <map>
#include <string>

#include "kiv_platform.h"
#include "kiv_printf.h"

// Shared by the waiters on one name and the thread that asks the resolver. One count for all of them: each waiter
// holds 2, the thread 1 while it runs, so the last waiter to leave can tell whether the thread still needs the
// record, and whoever brings the count to 0 frees it.
struct kiv_net_lookup {
    std::string name;
    std::atomic<int> holds{2 + 1};
    std::atomic<int> state{0}; // 0 under way, 1 found, 2 none
    in_addr addr{};
    int err = 0;
    bool seen = false; // frame thread only: the end was logged and a found address cached
};

// --- state

// Both touched on the frame thread only; the lookups' threads see nothing but their own record.
struct _KivNetLookups {
    std::map<std::string, HostAddr> cache;
    // The lookups under way, by name, so that a burst of requests to one name asks the resolver once.
    std::map<std::string, kiv_net_lookup *> pending;
};

static _KivNetLookups &_kiv_net_lookups() {
    static _KivNetLookups lookups;
    return lookups;
}

// --- internal helpers

static void _kiv_net_lookup_run(void *arg) {
    kiv_net_lookup *lookup = (kiv_net_lookup *)arg;
    in_addr a{};
    int err = 0;
    bool ok = kiv_net_resolve4(lookup->name.c_str(), &a, &err);
    lookup->addr = a;
    lookup->err = err;
    lookup->state.store(ok ? 1 : 2, std::memory_order_release);
    if (lookup->holds.fetch_sub(1) == 1)
        delete lookup;
}

// The name stops being under way, so that a later start finds the cache or asks again.
static void _kiv_net_lookup_unlist(kiv_net_lookup *lookup) {
    auto &pending = _kiv_net_lookups().pending;
    auto it = pending.find(lookup->name);
    if (it != pending.end() && it->second == lookup)
        pending.erase(it);
}

// The end of a lookup, threaded or not: logged, and a found address cached; the cached address or null.
static in_addr *_kiv_net_lookup_ended(const std::string &name, bool found, in_addr a, int err) {
    if (!found) {
        kiv_printf("gethostbyname(%s) == null; h_errno = %d\n", kiv_log_text(name).c_str(), err);
        return nullptr;
    }
    kiv_printf("kiv_gethostbyname('%s') cached\n", kiv_log_text(name).c_str());
    return &_kiv_net_lookups().cache.emplace(name, HostAddr(a)).first->second.value;
}

// --- public functions

in_addr *kiv_net_lookup_now(const char *name) {
    if (!name)
        return nullptr;
    auto &cache = _kiv_net_lookups().cache;
    auto it = cache.find(name);
    if (it != cache.end())
        return it->second.ok ? &it->second.value : nullptr;
    kiv_printf("gethostbyname ...\n");
    in_addr a{};
    int err = 0;
    bool found = kiv_net_resolve4(name, &a, &err);
    return _kiv_net_lookup_ended(name, found, a, err);
}

bool kiv_net_lookup_cached(const char *name, in_addr *out) {
    auto &cache = _kiv_net_lookups().cache;
    auto it = name ? cache.find(name) : cache.end();
    if (it == cache.end() || !it->second.ok)
        return false;
    *out = it->second.value;
    return true;
}

kiv_net_lookup *kiv_net_lookup_start(const char *name) {
    std::string key = name ? name : "";
    auto &pending = _kiv_net_lookups().pending;
    auto it = pending.find(key);
    if (it != pending.end()) {
        it->second->holds += 2;
        return it->second;
    }
    kiv_printf("gethostbyname ...\n");
    kiv_net_lookup *lookup = new kiv_net_lookup();
    lookup->name = key;
    if (!kiv_platform_thread_start(_kiv_net_lookup_run, lookup)) {
        kiv_printf("gethostbyname(%s): no thread for the lookup\n", kiv_log_text(key).c_str());
        delete lookup;
        return nullptr;
    }
    pending.emplace(key, lookup);
    return lookup;
}

long kiv_net_lookup_poll(kiv_net_lookup *lookup, in_addr *out, int *err) {
    int state = lookup->state.load(std::memory_order_acquire);
    if (state == 0)
        return KIV_NET_AGAIN;
    if (!lookup->seen) {
        lookup->seen = true;
        _kiv_net_lookup_unlist(lookup);
        _kiv_net_lookup_ended(lookup->name, state == 1, lookup->addr, lookup->err);
    }
    if (err)
        *err = lookup->err;
    if (state == 2)
        return KIV_NET_FAIL;
    *out = lookup->addr;
    return 0;
}

void kiv_net_lookup_forget(kiv_net_lookup *lookup) {
    if (!lookup)
        return;
    int before = lookup->holds.fetch_sub(2);
    if (before <= 3)
        _kiv_net_lookup_unlist(lookup); // the last waiter
    if (before == 2)
        delete lookup;
}
