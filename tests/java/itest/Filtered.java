package itest;

// work calls into library code that the filters exclude. warmUp makes the
// same calls first, so that the classes and methods they need are resolved
// already and work's calls load nothing.
public class Filtered {
    static String warmUp() {
        StringBuilder builder = new StringBuilder();
        builder.append("filtered ");
        builder.append(Integer.toString(42));
        return builder.toString();
    }

    static String work() {
        StringBuilder builder = new StringBuilder();
        builder.append("filtered ");
        builder.append(Integer.toString(42));
        return builder.toString();
    }

    public static void main(String[] args) {
        warmUp();
        System.out.println(work());
    }
}
