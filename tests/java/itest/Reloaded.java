package itest;

import java.lang.instrument.Instrumentation;

// Run with itself as a Java agent, which retransforms this class three times
// while main runs: calls come from main's frame, which spans every
// retransformation, and from frames entered after each.
public class Reloaded {
    static Instrumentation instrumentation;
    static int counter;

    public static void premain(String options, Instrumentation given) {
        instrumentation = given;
    }

    static void bump() {
        counter++;
    }

    static void twice() {
        bump();
        bump();
    }

    public static void main(String[] args) throws Exception {
        for (int round = 0; round < 3; round++) {
            bump();
            instrumentation.retransformClasses(Reloaded.class);
            bump();
            twice();
        }
        System.out.println("reloaded " + counter);
    }
}
