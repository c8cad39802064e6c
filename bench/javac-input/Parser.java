package sample.calc;

import java.util.ArrayList;
import java.util.List;

/**
 * Recursive-descent parser: program = statement (";" statement)*,
 * statement = NAME "=" sum | sum, sum = product (("+"|"-") product)*,
 * product = unary (("*"|"/"|"%") unary)*, unary = "-" unary | atom.
 */
public final class Parser {
  private final List<Token> tokens;
  private int next;

  public Parser(List<Token> tokens) {
    this.tokens = tokens;
  }

  public static List<Node> parse(String source) {
    return new Parser(Token.lex(source)).program();
  }

  List<Node> program() {
    List<Node> statements = new ArrayList<>();
    statements.add(statement());
    while (accept(Token.Kind.SEMI)) {
      if (peek().is(Token.Kind.END)) {
        break;
      }
      statements.add(statement());
    }
    expect(Token.Kind.END);
    return statements;
  }

  private Node statement() {
    if (peek().is(Token.Kind.NAME) && tokens.get(next + 1).is(Token.Kind.ASSIGN)) {
      String name = advance().text();
      advance();
      return new Node.Assign(name, sum());
    }
    return sum();
  }

  private Node sum() {
    Node left = product();
    while (peek().is(Token.Kind.PLUS) || peek().is(Token.Kind.MINUS)) {
      Token.Kind operator = advance().kind();
      left = new Node.Binary(operator, left, product());
    }
    return left;
  }

  private Node product() {
    Node left = unary();
    while (peek().is(Token.Kind.STAR) || peek().is(Token.Kind.SLASH)
        || peek().is(Token.Kind.PERCENT)) {
      Token.Kind operator = advance().kind();
      left = new Node.Binary(operator, left, unary());
    }
    return left;
  }

  private Node unary() {
    if (accept(Token.Kind.MINUS)) {
      return new Node.Negate(unary());
    }
    return atom();
  }

  private Node atom() {
    Token token = advance();
    switch (token.kind()) {
      case NUMBER:
        try {
          return new Node.Number(Double.parseDouble(token.text()));
        } catch (NumberFormatException e) {
          throw new CalcException("bad number " + token.text(), token.position());
        }
      case NAME:
        if (accept(Token.Kind.LPAREN)) {
          List<Node> arguments = new ArrayList<>();
          if (!accept(Token.Kind.RPAREN)) {
            do {
              arguments.add(sum());
            } while (accept(Token.Kind.COMMA));
            expect(Token.Kind.RPAREN);
          }
          return new Node.Call(token.text(), arguments, token.position());
        }
        return new Node.Variable(token.text(), token.position());
      case LPAREN:
        Node inner = sum();
        expect(Token.Kind.RPAREN);
        return inner;
      default:
        throw new CalcException("unexpected " + token, token.position());
    }
  }

  private Token peek() {
    return tokens.get(next);
  }

  private Token advance() {
    Token token = tokens.get(next);
    if (!token.is(Token.Kind.END)) {
      next++;
    }
    return token;
  }

  private boolean accept(Token.Kind kind) {
    if (peek().is(kind)) {
      advance();
      return true;
    }
    return false;
  }

  private void expect(Token.Kind kind) {
    if (!accept(kind)) {
      throw new CalcException("expected " + kind + " but found " + peek(), peek().position());
    }
  }
}
