// The store extension: product list and the store page. Its verbs arrive with the store platform layer.
#include "ext_header.h"

var ext_store_call(Game &game, std::string action, var value) {
    return var();
}
