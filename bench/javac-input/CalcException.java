package sample.calc;

/** A lexing, parsing or evaluation error, with the source position it refers to. */
public class CalcException extends RuntimeException {
  private static final long serialVersionUID = 1L;
  private final int position;

  public CalcException(String message, int position) {
    super(message + " at " + position);
    this.position = position;
  }

  public int position() {
    return position;
  }
}
