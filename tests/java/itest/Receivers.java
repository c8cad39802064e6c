package itest;

import java.io.ByteArrayInputStream;
import java.io.IOException;
import java.io.ObjectInputStream;
import java.io.Serializable;
import java.util.ArrayList;

// Objects met by traced methods of several classes of their hierarchy (and of
// a JDK superclass, and of an interface's default method), copies made by
// clone(), a record, and an object read by serialisation: each
// object has one receiver number wherever it is seen.
public class Receivers {
    interface Named {
        default String label() {
            return "named ".concat(name());
        }

        String name();
    }

    static class Animal implements Named, Cloneable {
        int legs;

        Animal(int legs) {
            this.legs = legs;
        }

        public String name() {
            return "animal";
        }

        int legs() {
            return legs;
        }

        Animal copy() throws CloneNotSupportedException {
            return (Animal) clone();
        }
    }

    static class Dog extends Animal {
        Dog() {
            super(4);
        }

        @Override
        public String name() {
            return "dog/".concat(super.name());
        }

        int walk() {
            return legs() * 2;
        }
    }

    static class Bag extends ArrayList<String> {
        int fill(String s) {
            add(s);
            add(s);
            return size() + toString().length();
        }
    }

    record Pair(int left, int right) {
        int sum() {
            return left + right;
        }
    }

    // No serialVersionUID of its own: the stream below was written by this
    // class run without an agent, so number fields that changed the class's
    // default one (or that the stream had to have) would be caught.
    static class Point implements Serializable {
        int x;
        int y;

        Point(int x, int y) {
            this.x = x;
            this.y = y;
        }

        int norm() {
            return Math.abs(x) + Math.abs(y);
        }
    }

    static final String POINT_STREAM =
        "aced00057372001569746573742e52656365697665727324506f696e7457c0b443d46caf1802000249000178"
        + "49000179787000000003fffffffc";

    // Without string concatenation, whose bootstrap is slow under method events.
    static void show(Object... parts) {
        StringBuilder line = new StringBuilder();
        for (Object part : parts) line.append(line.length() > 0 ? " " : "").append(part);
        System.out.println(line);
    }

    static byte[] unhex(String text) {
        byte[] bytes = new byte[text.length() / 2];
        for (int i = 0; i < bytes.length; ++i) {
            bytes[i] = (byte) Integer.parseInt(text.substring(2 * i, 2 * i + 2), 16);
        }
        return bytes;
    }

    static void serialisation() throws IOException, ClassNotFoundException {
        Point p = new Point(3, -4);
        try (ObjectInputStream in = new ObjectInputStream(new ByteArrayInputStream(unhex(POINT_STREAM)))) {
            Point read = (Point) in.readObject();
            show("read norm", read.norm(), p.norm());
        }
    }

    public static void main(String[] args) throws Exception {
        Dog dog = new Dog();
        Dog other = new Dog();
        show(dog.walk(), dog.label(), other.walk(), dog.legs());
        Animal animal = new Animal(2);
        Animal copy = animal.copy();
        Dog puppy = (Dog) dog.copy();
        show(copy.legs(), animal.legs(), puppy.walk(), dog.walk(), copy.label());

        Bag bag = new Bag();
        bag.fill("a");
        Bag twin = (Bag) bag.clone();
        show(twin.fill("b"), bag.fill("c"), twin.containsAll(bag));

        Pair pair = new Pair(1, 2);
        show(pair.sum(), pair.sum());

        serialisation();
        System.out.println("receivers done");
    }
}
