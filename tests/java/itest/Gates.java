package itest;

// A recursion whose logged calls come after the recursive call returns, so
// that an exit written too early shows in the order of the records.
public class Gates {
    static int down(int n) {
        int below = n > 0 ? down(n - 1) : 0;
        return below + leaf(n);
    }

    static int leaf(int n) {
        return n;
    }

    // Apart from main, so that main resolves no class (which would call the
    // class loader from main).
    static void report(int result) {
        System.out.println(result == 3 ? "gates ok" : "gates wrong");
    }

    public static void main(String[] args) {
        report(down(2));
    }
}
