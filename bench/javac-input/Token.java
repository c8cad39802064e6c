package sample.calc;

import java.util.ArrayList;
import java.util.List;
import java.util.Objects;

/** A token of the calculator language and the lexer that produces tokens. */
public final class Token {
  public enum Kind {
    NUMBER, NAME, PLUS, MINUS, STAR, SLASH, PERCENT, LPAREN, RPAREN, COMMA, ASSIGN, SEMI, END
  }

  private final Kind kind;
  private final String text;
  private final int position;

  public Token(Kind kind, String text, int position) {
    this.kind = Objects.requireNonNull(kind);
    this.text = text;
    this.position = position;
  }

  public Kind kind() {
    return kind;
  }

  public String text() {
    return text;
  }

  public int position() {
    return position;
  }

  public boolean is(Kind other) {
    return kind == other;
  }

  @Override
  public String toString() {
    return kind + (text.isEmpty() ? "" : "(" + text + ")") + "@" + position;
  }

  /** Splits source text into tokens; blanks separate tokens and are dropped. */
  public static List<Token> lex(String source) {
    List<Token> tokens = new ArrayList<>();
    int i = 0;
    while (i < source.length()) {
      char c = source.charAt(i);
      if (Character.isWhitespace(c)) {
        i++;
      } else if (Character.isDigit(c) || c == '.') {
        int start = i;
        while (i < source.length()
            && (Character.isDigit(source.charAt(i)) || source.charAt(i) == '.')) {
          i++;
        }
        tokens.add(new Token(Kind.NUMBER, source.substring(start, i), start));
      } else if (Character.isLetter(c) || c == '_') {
        int start = i;
        while (i < source.length()
            && (Character.isLetterOrDigit(source.charAt(i)) || source.charAt(i) == '_')) {
          i++;
        }
        tokens.add(new Token(Kind.NAME, source.substring(start, i), start));
      } else {
        tokens.add(new Token(symbol(c, i), String.valueOf(c), i));
        i++;
      }
    }
    tokens.add(new Token(Kind.END, "", source.length()));
    return tokens;
  }

  private static Kind symbol(char c, int position) {
    switch (c) {
      case '+': return Kind.PLUS;
      case '-': return Kind.MINUS;
      case '*': return Kind.STAR;
      case '/': return Kind.SLASH;
      case '%': return Kind.PERCENT;
      case '(': return Kind.LPAREN;
      case ')': return Kind.RPAREN;
      case ',': return Kind.COMMA;
      case '=': return Kind.ASSIGN;
      case ';': return Kind.SEMI;
      default:
        throw new CalcException("unexpected character '" + c + "'", position);
    }
  }
}
