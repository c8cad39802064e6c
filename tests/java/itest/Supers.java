package itest;

import itest.untraced.Middle;
import itest.untraced.Shelf;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collection;
import java.util.HashSet;

// Objects built through a superclass constructor that is not traced (a JDK
// class, or a class of a package the filter leaves out): constructors that
// throw there, one that calls back methods the object overrides, one that
// makes traced objects of its own, and one that runs a traced constructor
// above it again. Each object keeps one number, and each constructor closes
// where it ends.
public class Supers {
    public static class SizedList extends ArrayList<String> {
        public SizedList(int capacity) {
            super(capacity);
        }

        SizedList(String capacity) {
            this(Integer.parseInt(capacity) - 10);
        }

        public int room() {
            return 10 - size();
        }
    }

    static class Tracked extends HashSet<String> {
        int added;

        Tracked(Collection<String> items) {
            super(items);
        }

        @Override
        public boolean add(String item) {
            added++;
            return super.add(item);
        }
    }

    public static class Item {
        final int weight;

        public Item(int weight) {
            this.weight = weight;
        }

        public int weight() {
            return weight;
        }
    }

    static class Stocked extends Shelf {
        Stocked(int count) {
            super(count);
        }

        @Override
        protected Item make(int weight) {
            return new Item(weight * 2);
        }
    }

    public static class Top {
        public Top() {
        }

        public int top() {
            return 1;
        }
    }

    static class Bottom extends Middle {
        Bottom() {
            super();
        }
    }

    static void refuse(String capacity) {
        try {
            System.out.println("made " + new SizedList(capacity).room());
        } catch (IllegalArgumentException e) {
            System.out.println("refused " + e.getClass().getSimpleName());
        }
    }

    public static void main(String[] args) {
        try {
            new SizedList(-5);
        } catch (IllegalArgumentException e) {
            System.out.println("refused " + e.getClass().getSimpleName());
        }
        refuse("3");
        System.out.println(Shelf.attempt(-2));
        SizedList list = new SizedList(4);
        list.add("x");
        System.out.println("room " + list.room());
        Tracked tracked = new Tracked(Arrays.asList("a", "b"));
        tracked.add("c");
        System.out.println("tracked " + tracked.added + " " + tracked.size());
        Stocked stocked = new Stocked(3);
        System.out.println("stocked " + stocked.total());
        System.out.println("top " + new Bottom().top());
    }
}
