package org.demo.shop;

import java.util.Map;

/** The prices of what the shop sells, in cents. */
class Catalog {
    private final Map<String, Integer> prices = Map.of("apple", 30, "pear", 45, "plum", 25);

    Item find(String name) {
        Integer price = prices.get(name);
        if (price == null) {
            throw new IllegalArgumentException(name + " is not sold here");
        }
        return new Item(name, price);
    }
}
