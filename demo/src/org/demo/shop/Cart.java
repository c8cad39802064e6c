package org.demo.shop;

import java.util.ArrayList;
import java.util.List;

/** A customer's cart; the total is summed recursively. */
class Cart {
    private final List<Item> items = new ArrayList<>();

    void add(Item item, int count) {
        for (int i = 0; i < count; i++) {
            items.add(item);
        }
    }

    int total() {
        return sum(0);
    }

    private int sum(int from) {
        return from == items.size() ? 0 : items.get(from).price + sum(from + 1);
    }
}
