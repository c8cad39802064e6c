package itest.untraced;

import itest.Supers;

// Left out by the filter: its constructor makes objects of a traced class
// and calls back a method that a traced subclass overrides.
public class Shelf {
    private final Supers.Item[] items;

    public Shelf(int count) {
        items = new Supers.Item[count];
        for (int i = 0; i < count; i++) {
            items[i] = i % 2 == 0 ? new Supers.Item(i) : make(i);
        }
    }

    protected Supers.Item make(int weight) {
        return new Supers.Item(weight);
    }

    // Catches, without hooks, what a superclass constructor without hooks
    // threw for a traced constructor.
    public static String attempt(int capacity) {
        try {
            return "made " + new Supers.SizedList(capacity).room();
        } catch (IllegalArgumentException e) {
            return "refused here";
        }
    }

    public int total() {
        int total = 0;
        for (Supers.Item item : items) total += item.weight();
        return total;
    }
}
