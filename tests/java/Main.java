// A program in the default package.
public class Main {
    static int helper(int x) {
        return x + 1;
    }

    public static void main(String[] args) {
        helper(1);
        System.out.println("default package main");
    }
}
