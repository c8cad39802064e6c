package bench;

import java.util.ArrayList;
import java.util.List;
import javax.tools.JavaCompiler;
import javax.tools.ToolProvider;

/**
 * A real program under the agent: the JDK's own compiler, run in process on a
 * bundled source set, so that the measured part is the compilation alone.
 */
public final class JavacRun {
  private JavacRun() {}

  /** Arguments: compilations, output directory, source files. */
  public static void main(String[] args) {
    int times = Integer.parseInt(args[0]);
    List<String> options = new ArrayList<>(List.of("-proc:none", "-d", args[1]));
    options.addAll(List.of(args).subList(2, args.length));
    JavaCompiler compiler = ToolProvider.getSystemJavaCompiler();
    long start = System.nanoTime();
    long failures = 0;
    for (int i = 0; i < times; i++) {
      failures += compiler.run(null, null, null, options.toArray(new String[0]));
    }
    if (failures != 0) {
      throw new IllegalStateException("javac failed");
    }
    Bench.done(start, times);
  }
}
