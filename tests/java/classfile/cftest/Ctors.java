package cftest;

/** Constructor chains, objects made inside constructor arguments, constructors that throw. */
public class Ctors {
  static class Base {
    final int value;

    Base(int value) {
      if (value < 0) throw new IllegalArgumentException("negative");
      this.value = value;
    }
  }

  static class Part {
    final String name;

    Part(String name) {
      this.name = name;
    }
  }

  static class Child extends Base {
    final Part part;

    Child() {
      this(new Part("default"));
    }

    Child(Part part) {
      super(part.name.length());
      this.part = part;
    }

    // The call to super is a jump target: both arms of the condition meet there.
    Child(boolean big) {
      super(big ? 100 : 1);
      this.part = null;
    }

    Child(String s) {
      super(check(s));
      if (s.isEmpty()) throw new IllegalStateException("empty after super");
      this.part = new Part(s);
    }
  }

  static class Failing extends Base {
    Failing() {
      super(-1);
    }
  }

  static int check(String s) {
    if (s == null) throw new IllegalArgumentException("null before super");
    return s.length();
  }

  public static void main(String[] args) {
    System.out.println(new Child().value);
    System.out.println(new Child(true).value + new Child(false).value);
    System.out.println(new Child("abc").part.name);
    try {
      new Child((String) null);
    } catch (IllegalArgumentException e) {
      System.out.println("caught " + e.getMessage());
    }
    try {
      new Child("");
    } catch (IllegalStateException e) {
      System.out.println("caught " + e.getMessage());
    }
    try {
      new Failing();
    } catch (IllegalArgumentException e) {
      System.out.println("caught " + e.getMessage());
    }
  }
}
