package itest;

// run is the start method: entered twice, recursively the first time.
public class Starter {
    static void before() {
    }

    static int run(int n) {
        return n > 0 ? step(n) + run(n - 1) : 0;
    }

    static int step(int n) {
        return n;
    }

    static void after() {
    }

    public static void main(String[] args) {
        before();
        int result = run(2);
        after();
        result += run(0);
        System.out.println(result == 3 ? "starter ok" : "starter wrong");
    }
}
