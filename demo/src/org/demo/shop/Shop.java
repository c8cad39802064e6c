package org.demo.shop;

import java.util.List;

/** A small shop run by two clerks, each filling a cart on its own thread. */
public class Shop {
    public static void main(String[] args) throws InterruptedException {
        Catalog catalog = new Catalog();
        Thread alice = new Thread(() -> serve(catalog, List.of("apple", "pear")), "clerk-alice");
        Thread bob = new Thread(() -> serve(catalog, List.of("plum", "durian")), "clerk-bob");
        alice.start();
        bob.start();
        alice.join();
        bob.join();
        System.out.println("shop closed");
    }

    static void serve(Catalog catalog, List<String> wanted) {
        Cart cart = new Cart();
        for (String name : wanted) {
            try {
                cart.add(catalog.find(name), 2);
            } catch (IllegalArgumentException notSold) {
                System.out.println(Thread.currentThread().getName() + ": " + notSold.getMessage());
            }
        }
        System.out.println(Thread.currentThread().getName() + ": total " + cart.total());
    }
}
