// The store extension: the products the script declares, read back as a list, and a product's store page.
#include "ext_header.h"
#include "kiv_driver.h"
#include "kiv_util.h"

static var my_store_products;
static var my_store_ids;

var ext_store_call(Game &game, std::string action, var value) {
    if (action == "store:init") {
        my_store_products = var_list();
        my_store_ids = var_list();
        if (!driver_steam_is_init())
            return var();
        var item;
        var it(value.__iter__());
        while (it.__next__(item)) {
            list_append(my_store_ids, item["id"]);
            list_append(my_store_products, item);
        }
    } else if (action == "store:products") {
        return my_store_products;
    } else if (action == "store:buy") {
        driver_steam_open_overlay_to_store(kiv_d2i(value.__num__()));
    }
    return var();
}
