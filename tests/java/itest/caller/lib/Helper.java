package itest.caller.lib;

// Calls of its own, none of which may show up in a log that filters it out.
public class Helper {
    public static int outer(int x) {
        return inner(x) * 2;
    }

    static int inner(int x) {
        return Math.abs(x) + new Helper().hashCode() % 1;
    }
}
