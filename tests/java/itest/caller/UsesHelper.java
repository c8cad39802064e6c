package itest.caller;

import itest.caller.lib.Helper;

// Logged code calling into a class that the package filter leaves out.
public class UsesHelper {
    static int twice(int x) {
        return Helper.outer(x) + Helper.outer(x + 1);
    }

    public static void main(String[] args) {
        twice(3);
    }
}
