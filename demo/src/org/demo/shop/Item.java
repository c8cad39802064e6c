package org.demo.shop;

/** One article with its price in cents. */
class Item {
    final String name;
    final int price;

    Item(String name, int price) {
        this.name = name;
        this.price = price;
    }
}
