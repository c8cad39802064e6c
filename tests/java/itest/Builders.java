package itest;

// Objects built through chains of constructors, some of which throw before,
// inside or after the constructor they chain to; objects made inside the
// arguments of a chained call are objects of their own.
public class Builders {
    static class Base {
        final int size;

        Base(int size) {
            if (size < 0) throw new IllegalArgumentException("size");
            this.size = size;
        }

        int size() {
            return size;
        }
    }

    static class Part extends Base {
        Part(Base inner) {
            super(inner.size() + 1);
        }

        Part() {
            this(new Base(1));
        }

        Part(int size, boolean failAfter) {
            super(checked(size));
            if (failAfter) throw new UnsupportedOperationException("after");
        }
    }

    static int checked(int size) {
        if (size > 100) throw new ArithmeticException("too big");
        return size;
    }

    static void attempt(int size, boolean failAfter) {
        try {
            new Part(size, failAfter).size();
        } catch (RuntimeException e) {
            System.out.println("failed " + e.getClass().getSimpleName());
        }
    }

    public static void main(String[] args) {
        System.out.println("part " + new Part().size());
        attempt(3, false);
        attempt(-1, false);
        attempt(101, false);
        attempt(4, true);
        System.out.println("builders done");
    }
}
