package cftest;

/**
 * A program that still means the same as a class file of version 49 (no
 * lambdas, no string concatenation, no nested classes), for the tests that
 * turn it into one: the JVM then checks it with its older verifier.
 */
public class Old {
  private final int value;

  public Old(int value) {
    this(value, value > 0 ? "positive" : "other");
  }

  public Old(int value, String label) {
    super();
    if (label == null) throw new IllegalArgumentException("no label");
    this.value = value;
  }

  static int sum(int[] values) {
    int total = 0;
    for (int i = 0; i < values.length; i++) {
      try {
        total += 100 / values[i];
      } catch (ArithmeticException e) {
        total -= 1;
      }
    }
    return total;
  }

  static String kind(int n) {
    switch (n) {
      case 0: return "zero";
      case 1: return "one";
      default: return "many";
    }
  }

  public static void main(String[] args) {
    StringBuilder out = new StringBuilder();
    out.append(new Old(5).value).append(' ');
    out.append(sum(new int[] {1, 0, 4})).append(' ');
    out.append(kind(0)).append(kind(1)).append(kind(7));
    try {
      new Old(1, null);
    } catch (IllegalArgumentException e) {
      out.append(' ').append(e.getMessage());
    }
    System.out.println(out);
  }
}
