package itest;

import java.io.ByteArrayInputStream;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.ObjectInputStream;
import java.io.ObjectOutputStream;
import java.io.Serializable;
import java.lang.reflect.Constructor;
import java.lang.reflect.Method;

// Core reflection past the point where JDK 17 makes accessor classes of its
// own (the 16th call of one method or constructor), and a serialization round
// trip, whose objects a generated constructor accessor makes and whose
// readObject is called through reflection.
public class Reflection {
    static class Point implements Serializable {
        private static final long serialVersionUID = 1L;
        int x, y;

        Point(int x, int y) {
            this.x = x;
            this.y = y;
        }

        int sum() {
            return x + y;
        }

        private void readObject(ObjectInputStream in) throws IOException, ClassNotFoundException {
            in.defaultReadObject();
        }
    }

    private final int base;

    public Reflection(int base) {
        this.base = base;
    }

    public int add(int value) {
        return base + value;
    }

    public static void main(String[] args) throws Exception {
        Method add = Reflection.class.getMethod("add", int.class);
        Constructor<Reflection> make = Reflection.class.getConstructor(int.class);
        int total = 0;
        for (int i = 0; i < 20; i++) total += (Integer) add.invoke(make.newInstance(i), i);
        ByteArrayOutputStream bytes = new ByteArrayOutputStream();
        try (ObjectOutputStream out = new ObjectOutputStream(bytes)) {
            out.writeObject(new Point(3, 4));
        }
        for (int i = 0; i < 20; i++) {
            try (ObjectInputStream in = new ObjectInputStream(new ByteArrayInputStream(bytes.toByteArray()))) {
                total += ((Point) in.readObject()).sum();
            }
        }
        System.out.println("reflection done " + total);
    }
}
