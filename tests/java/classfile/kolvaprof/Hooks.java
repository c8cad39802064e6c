package kolvaprof;

import java.io.IOException;
import java.io.PrintStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayDeque;
import java.util.HashMap;
import java.util.IdentityHashMap;
import java.util.Map;

/**
 * The hooks that rewritten test classes call. Each call becomes one line on
 * standard error, "#H " and the thread's depth in blanks first:
 * {@code > Class.method(desc) this=#k} (or {@code static}), {@code new=#k} /
 * {@code same=#k} for constructors (a new object, or the object whose
 * constructor chain goes on), {@code bind #k}, {@code < Class.method(desc)}
 * and {@code < ... throws ExceptionClass}. Misuse (an exit that does not close
 * the innermost open call, a bind outside a constructor) is reported as a line
 * with ERROR. A constructor whose own super(...) or this(...) call throws gets
 * its exit from the constructor it called, which was entered through
 * chainInit: that call has no handler around it. Calls above one whose
 * handler catches were left without a hook: {@code < ... caught Class}.
 */
public final class Hooks {
  private static final PrintStream OUT = System.err;
  private static final Map<Integer, String> NAMES = new HashMap<>();
  private static final Map<Object, Integer> IDS = new IdentityHashMap<>();
  private static int lastId;

  private static final class Call {
    final int method;
    final int object;
    final boolean chained;  // entered through chainInit: the caller's own super(...) or this(...)

    Call(int method, int object, boolean chained) {
      this.method = method;
      this.object = object;
      this.chained = chained;
    }
  }

  private static final class PerThread {
    final ArrayDeque<Call> calls = new ArrayDeque<>();
    int chained;  // the object whose next constructor runs now, 0 when none
  }

  private static final ThreadLocal<PerThread> THREAD = ThreadLocal.withInitial(PerThread::new);

  static {
    String file = System.getProperty("kolvaprof.methods");
    if (file != null) {
      try {
        for (String line : Files.readAllLines(Path.of(file))) {
          int blank = line.indexOf(' ');
          NAMES.put(Integer.parseInt(line.substring(0, blank)), line.substring(blank + 1));
        }
      } catch (IOException e) {
        throw new IllegalStateException(e);
      }
    }
  }

  private Hooks() {}

  private static String name(int method) {
    String name = NAMES.get(method);
    return name != null ? name : "#" + method;
  }

  private static synchronized int idOf(Object o) {
    Integer id = IDS.get(o);
    if (id == null) {
      id = ++lastId;
      IDS.put(o, id);
    }
    return id;
  }

  private static synchronized int newId() {
    return ++lastId;
  }

  private static void line(PerThread t, String text) {
    String thread = Thread.currentThread().getName();
    OUT.println("#H " + ("main".equals(thread) ? "" : "[" + thread + "] ")
        + " ".repeat(2 * t.calls.size()) + text);
  }

  public static void enter(int method, Object self) {
    PerThread t = THREAD.get();
    t.chained = 0;
    int id = self == null ? 0 : idOf(self);
    line(t, "> " + name(method) + (self == null ? " static" : " this=#" + id));
    t.calls.push(new Call(method, id, false));
  }

  public static void enterInit(int method) {
    PerThread t = THREAD.get();
    int id;
    String how;
    boolean chained = t.chained != 0;
    if (chained) {
      id = t.chained;
      how = " same=#";
    } else {
      id = newId();
      how = " new=#";
    }
    t.chained = 0;
    line(t, "> " + name(method) + how + id);
    t.calls.push(new Call(method, id, chained));
  }

  public static void chainInit(int callee) {
    PerThread t = THREAD.get();
    Call top = t.calls.peek();
    if (top == null || !name(top.method).contains(".<init>(")) {
      line(t, "ERROR chainInit outside a constructor");
      return;
    }
    t.chained = top.object;
  }

  public static void bindInit(Object self) {
    PerThread t = THREAD.get();
    t.chained = 0;
    Call top = t.calls.peek();
    if (top == null || !name(top.method).contains(".<init>(")) {
      line(t, "ERROR bindInit outside a constructor");
      return;
    }
    synchronized (Hooks.class) {
      Integer bound = IDS.get(self);
      if (bound == null) {
        IDS.put(self, top.object);
      } else if (bound != top.object) {
        line(t, "ERROR bind #" + top.object + " to an object that is #" + bound);
      }
    }
    line(t, "bind #" + top.object);
  }

  public static void exit(int method) {
    leave(method, "");
  }

  // The whole call of a method that left through leaf code.
  public static void leaf(int method, Object self) {
    enter(method, self);
    exit(method);
  }

  public static void exitThrow(Throwable thrown, int method) {
    leave(method, " throws " + thrown.getClass().getName());
  }

  public static void caught(Throwable thrown, int method) {
    PerThread t = THREAD.get();
    while (!t.calls.isEmpty() && t.calls.peek().method != method) {
      Call left = t.calls.poll();
      line(t, "< " + name(left.method) + " caught " + thrown.getClass().getName());
    }
    if (t.calls.isEmpty()) line(t, "ERROR caught in " + name(method) + ", which is not open");
  }

  private static void leave(int method, String how) {
    PerThread t = THREAD.get();
    t.chained = 0;
    Call top = t.calls.poll();
    if (top == null || top.method != method) {
      line(t, "ERROR exit of " + name(method) + " while " + (top == null ? "no call" : name(top.method))
          + " is open");
      return;
    }
    line(t, "< " + name(method) + how);
    // The super(...) or this(...) call is outside every handler of the
    // constructor that makes it: an exception out of a chained constructor
    // leaves that one too, without a hook call of its own.
    if (top.chained && !how.isEmpty()) {
      Call caller = t.calls.poll();
      if (caller == null) {
        line(t, "ERROR chained constructor without its caller");
        return;
      }
      line(t, "< " + name(caller.method) + how);
    }
  }
}
