package itest;

// Static and instance calls, constructors, a nested class, array types,
// recursion and frames unwound by an exception, in a fixed order.
public class Calls {
    private int total;

    Calls(int start) {
        total = start;
    }

    int add(int x) {
        total += x;
        return total;
    }

    static int twice(int x) {
        return 2 * x;
    }

    static int factorial(int n) {
        return n <= 1 ? 1 : n * factorial(n - 1);
    }

    static void inner() {
        throw new IllegalStateException("boom");
    }

    static void outer() {
        inner();
    }

    static class Nested {
        long[] spread(int[][] grid, String[] names) {
            return new long[] {grid.length, names.length};
        }
    }

    public static void main(String[] args) {
        Calls a = new Calls(1);
        Calls b = new Calls(twice(2));
        a.add(3);
        b.add(4);
        a.add(factorial(3));
        new Nested().spread(new int[][] {{1}}, args);
        try {
            outer();
        } catch (IllegalStateException e) {
            System.out.println(e.getMessage());
        }
        System.out.println(a.total == 10 && b.total == 8 ? "calls ok" : "calls wrong");
    }
}
