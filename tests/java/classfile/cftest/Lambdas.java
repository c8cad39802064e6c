package cftest;

import java.util.List;
import java.util.function.IntSupplier;
import java.util.stream.Collectors;

/** Lambdas, streams, static initialisers, interface methods, records and enums. */
public class Lambdas {
  static final List<String> WORDS;

  static {
    WORDS = List.of("pear", "fig", "apple");
  }

  interface Shape {
    double area();

    default String describe() {
      return kind() + " " + area();
    }

    static String kind() {
      return "shape";
    }
  }

  record Square(double side) implements Shape {
    public double area() {
      return side * side;
    }
  }

  enum Color {
    RED, GREEN;

    Color next() {
      return values()[(ordinal() + 1) % values().length];
    }
  }

  public static void main(String[] args) {
    System.out.println(WORDS.stream().sorted().map(w -> w.toUpperCase()).collect(Collectors.joining(",")));
    int base = 40;
    IntSupplier s = () -> base + 2;
    System.out.println(s.getAsInt());
    Runnable r = Lambdas::hello;
    r.run();
    System.out.println(new Square(3).describe());
    System.out.println(Color.RED.next() + " " + Color.GREEN.next());
    try {
      WORDS.forEach(w -> {
        if (w.startsWith("f")) throw new IllegalStateException(w);
      });
    } catch (IllegalStateException e) {
      System.out.println("stopped at " + e.getMessage());
    }
  }

  static void hello() {
    System.out.println("hello");
  }
}
