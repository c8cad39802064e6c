package sample.calc;

import java.util.List;
import java.util.Map;
import java.util.function.DoubleBinaryOperator;

/** The syntax tree; each node evaluates itself against an environment. */
public interface Node {
  double eval(Environment env);

  <R> R accept(Visitor<R> visitor);

  interface Visitor<R> {
    R number(Number node);

    R variable(Variable node);

    R binary(Binary node);

    R negate(Negate node);

    R call(Call node);

    R assign(Assign node);
  }

  /** Variables and functions visible to an evaluation. */
  interface Environment {
    double lookup(String name, int position);

    void define(String name, double value);

    Function function(String name, int position);
  }

  @FunctionalInterface
  interface Function {
    double apply(List<Double> arguments);
  }

  final class Number implements Node {
    final double value;

    Number(double value) {
      this.value = value;
    }

    public double eval(Environment env) {
      return value;
    }

    public <R> R accept(Visitor<R> visitor) {
      return visitor.number(this);
    }
  }

  final class Variable implements Node {
    final String name;
    final int position;

    Variable(String name, int position) {
      this.name = name;
      this.position = position;
    }

    public double eval(Environment env) {
      return env.lookup(name, position);
    }

    public <R> R accept(Visitor<R> visitor) {
      return visitor.variable(this);
    }
  }

  final class Binary implements Node {
    static final Map<Token.Kind, DoubleBinaryOperator> OPERATORS = Map.of(
        Token.Kind.PLUS, (a, b) -> a + b,
        Token.Kind.MINUS, (a, b) -> a - b,
        Token.Kind.STAR, (a, b) -> a * b,
        Token.Kind.SLASH, (a, b) -> a / b,
        Token.Kind.PERCENT, (a, b) -> a % b);

    final Token.Kind operator;
    final Node left;
    final Node right;

    Binary(Token.Kind operator, Node left, Node right) {
      this.operator = operator;
      this.left = left;
      this.right = right;
    }

    public double eval(Environment env) {
      return OPERATORS.get(operator).applyAsDouble(left.eval(env), right.eval(env));
    }

    public <R> R accept(Visitor<R> visitor) {
      return visitor.binary(this);
    }
  }

  final class Negate implements Node {
    final Node operand;

    Negate(Node operand) {
      this.operand = operand;
    }

    public double eval(Environment env) {
      return -operand.eval(env);
    }

    public <R> R accept(Visitor<R> visitor) {
      return visitor.negate(this);
    }
  }

  final class Call implements Node {
    final String name;
    final List<Node> arguments;
    final int position;

    Call(String name, List<Node> arguments, int position) {
      this.name = name;
      this.arguments = List.copyOf(arguments);
      this.position = position;
    }

    public double eval(Environment env) {
      Function function = env.function(name, position);
      return function.apply(arguments.stream().map(a -> a.eval(env)).collect(
          java.util.stream.Collectors.toList()));
    }

    public <R> R accept(Visitor<R> visitor) {
      return visitor.call(this);
    }
  }

  final class Assign implements Node {
    final String name;
    final Node value;

    Assign(String name, Node value) {
      this.name = name;
      this.value = value;
    }

    public double eval(Environment env) {
      double result = value.eval(env);
      env.define(name, result);
      return result;
    }

    public <R> R accept(Visitor<R> visitor) {
      return visitor.assign(this);
    }
  }
}
