package sample.calc;

import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;
import java.util.stream.Collectors;

/** Evaluates programs with a few built-in functions and prints them back. */
public final class Calculator implements Node.Environment {
  private final Map<String, Double> variables = new HashMap<>();
  private final Map<String, Node.Function> functions = new TreeMap<>();

  public Calculator() {
    functions.put("max", args -> args.stream().mapToDouble(Double::doubleValue).max().orElse(0));
    functions.put("min", args -> args.stream().mapToDouble(Double::doubleValue).min().orElse(0));
    functions.put("sum", args -> args.stream().mapToDouble(Double::doubleValue).sum());
    functions.put("sqrt", args -> Math.sqrt(single(args)));
    functions.put("abs", args -> Math.abs(single(args)));
    define("pi", Math.PI);
  }

  private static double single(List<Double> args) {
    if (args.size() != 1) {
      throw new CalcException("expected one argument, got " + args.size(), -1);
    }
    return args.get(0);
  }

  @Override
  public double lookup(String name, int position) {
    Double value = variables.get(name);
    if (value == null) {
      throw new CalcException("unknown variable " + name, position);
    }
    return value;
  }

  @Override
  public void define(String name, double value) {
    variables.put(name, value);
  }

  @Override
  public Node.Function function(String name, int position) {
    Node.Function function = functions.get(name);
    if (function == null) {
      throw new CalcException("unknown function " + name, position);
    }
    return function;
  }

  public double run(String source) {
    double last = 0;
    for (Node statement : Parser.parse(source)) {
      last = statement.eval(this);
    }
    return last;
  }

  /** Prints a tree back as fully parenthesised source text. */
  static final class Printer implements Node.Visitor<String> {
    public String number(Node.Number node) {
      return Double.toString(node.value);
    }

    public String variable(Node.Variable node) {
      return node.name;
    }

    public String binary(Node.Binary node) {
      return "(" + node.left.accept(this) + " " + node.operator + " " + node.right.accept(this) + ")";
    }

    public String negate(Node.Negate node) {
      return "-" + node.operand.accept(this);
    }

    public String call(Node.Call node) {
      return node.name + node.arguments.stream().map(a -> a.accept(this))
          .collect(Collectors.joining(", ", "(", ")"));
    }

    public String assign(Node.Assign node) {
      return node.name + " = " + node.value.accept(this);
    }
  }

  public static void main(String[] args) {
    Calculator calculator = new Calculator();
    String source = args.length > 0 ? String.join(" ", args) : "r = 2; area = pi * r * r; max(area, sqrt(2))";
    for (Node statement : Parser.parse(source)) {
      System.out.println(statement.accept(new Printer()));
    }
    System.out.println(calculator.run(source));
  }
}
