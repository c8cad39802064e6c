package itest;

import java.lang.reflect.Method;

// Calls the bytecode engine's hooks the way no rewritten class would: numbers
// never handed out, no receiver or a foreign one, exits without entries and
// constructor hooks out of order, also from a thread of its own.
public class BadHooks {
    static int traced(int x) {
        return x + 1;
    }

    static void abuse() throws Exception {
        Class<?> hooks = Class.forName("kolvaprof.Hooks");
        Method enter = hooks.getMethod("enter", int.class, Object.class);
        Method exit = hooks.getMethod("exit", int.class);
        Method exitThrow = hooks.getMethod("exitThrow", Throwable.class, int.class);
        Method enterInit = hooks.getMethod("enterInit", int.class);
        Method chainInit = hooks.getMethod("chainInit", int.class);
        Method bindInit = hooks.getMethod("bindInit", Object.class);
        for (int number : new int[] {0, -1, Integer.MAX_VALUE, Integer.MIN_VALUE, 1 << 28}) {
            enter.invoke(null, number, null);
            enter.invoke(null, number, "foreign");
            exit.invoke(null, number);
            exitThrow.invoke(null, null, number);
            exitThrow.invoke(null, new IllegalStateException(), number);
            enterInit.invoke(null, number);
        }
        chainInit.invoke(null, 12345);
        bindInit.invoke(null, (Object) null);
        bindInit.invoke(null, "foreign");
        exit.invoke(null, 1);
        exitThrow.invoke(null, new IllegalStateException(), 1);
        traced(1);
    }

    public static void main(String[] args) throws Exception {
        abuse();
        Thread other = new Thread(() -> {
            try {
                abuse();
            } catch (Exception e) {
                throw new RuntimeException(e);
            }
        }, "abuser");
        other.start();
        other.join();
        System.out.println("bad hooks done " + traced(2));
    }
}
