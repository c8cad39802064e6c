package cftest;

/** Exceptions through try/catch/finally, loops, switches and recursion. */
public class Flow {
  static int depth(int n) {
    return n == 0 ? 0 : 1 + depth(n - 1);
  }

  static int divide(int a, int b) {
    try {
      return a / b;
    } catch (ArithmeticException e) {
      return -1;
    } finally {
      System.out.println("finally " + a);
    }
  }

  static int uncaught(int[] values, int i) {
    return values[i];
  }

  static String kind(int day) {
    switch (day) {
      case 1:
      case 7:
        return "weekend";
      case 2: case 3: case 4: case 5: case 6:
        return "weekday";
      default:
        return "none";
    }
  }

  static int sparse(int key) {
    switch (key) {
      case -1000: return 1;
      case 10: return 2;
      case 100000: return 3;
      default: return 0;
    }
  }

  static String name(String s) {
    return switch (s) {
      case "a" -> "alpha";
      case "b" -> "beta";
      default -> "other";
    };
  }

  static long loop(int n) {
    long sum = 0;
    for (int i = 0; i < n; i++) {
      if (i % 3 == 0) continue;
      sum += i;
      if (sum > 1000) break;
    }
    int k = n;
    do {
      k--;
    } while (k > 0);
    return sum + k;
  }

  /** An early return before a loop, and a handler the loop can reach. */
  static int firstEven(int[] values, boolean skip) {
    if (skip) return -1;
    try {
      for (int v : values) {
        if (v % 2 == 0) return v;
      }
    } catch (NullPointerException e) {
      return -2;
    }
    return 0;
  }

  static void rethrow() throws Exception {
    try {
      throw new java.io.IOException("io");
    } catch (java.io.IOException e) {
      throw new Exception("wrapped", e);
    }
  }

  static synchronized double mixed(long a, double b, float c) {
    return a * b + c;
  }

  public static void main(String[] args) throws Exception {
    System.out.println(depth(3));
    System.out.println(divide(6, 3) + " " + divide(1, 0));
    try {
      uncaught(new int[1], 2);
    } catch (ArrayIndexOutOfBoundsException e) {
      System.out.println("caught index");
    }
    System.out.println(kind(1) + kind(3) + kind(9));
    System.out.println(sparse(-1000) + sparse(10) + sparse(100000) + sparse(5));
    System.out.println(name("a") + name("b") + name("z"));
    System.out.println(loop(20));
    System.out.println(firstEven(new int[] {3, 4}, true) + " " + firstEven(new int[] {3, 4}, false)
        + " " + firstEven(new int[] {3}, false) + " " + firstEven(null, false));
    try {
      rethrow();
    } catch (Exception e) {
      System.out.println(e.getMessage() + " " + e.getCause().getMessage());
    }
    System.out.println(mixed(2, 1.5, 0.25f));
  }
}
