package itest;

// Uses String and Integer, which the VM prepares while it starts.
public class Builtin {
    public static void main(String[] args) {
        String text = Integer.toString(12345);
        System.out.println(text.length() == 5 ? "builtin ok" : "builtin wrong");
    }
}
