package itest;

import java.io.InputStream;
import java.io.OutputStream;
import java.net.InetAddress;
import java.net.ServerSocket;
import java.net.Socket;
import java.nio.ByteBuffer;
import java.nio.channels.Pipe;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.ThreadFactory;

// Virtual threads that block on I/O and ask about themselves: a pipe read,
// a read from a loopback socket, an interrupt, the thread's name and state,
// each inside calls of the program's own, so that every thread ends with its
// calls closed. Virtual threads are made by reflection, so that the program
// builds for every JDK the tests run on.
// Arguments: thread count.
public class VirtualBlocking {
  static int viaPipe(int k) throws Exception {
    final Pipe pipe = Pipe.open();
    pipe.sink().write(ByteBuffer.wrap(new byte[] {(byte) k}));
    final ByteBuffer in = ByteBuffer.allocate(1);
    pipe.source().read(in);
    pipe.sink().close();
    pipe.source().close();
    return in.get(0);
  }

  static int viaSocket(int port, int k) throws Exception {
    try (Socket socket = new Socket(InetAddress.getLoopbackAddress(), port)) {
      final OutputStream out = socket.getOutputStream();
      out.write(k & 0x7f);
      out.flush();
      final InputStream in = socket.getInputStream();
      return in.read();
    }
  }

  static int aboutSelf(int k) {
    final Thread self = Thread.currentThread();
    self.interrupt();
    final boolean interrupted = Thread.interrupted();
    return (interrupted ? 1 : 0) + self.toString().length() + self.getState().ordinal();
  }

  static int work(int port, int k) throws Exception {
    return viaPipe(k) + viaSocket(port, k) + aboutSelf(k) + done(k);
  }

  static int done(int k) {
    return k;
  }

  public static void main(String[] args) throws Exception {
    final int count = Integer.parseInt(args[0]);
    final ServerSocket server = new ServerSocket(0, 50, InetAddress.getLoopbackAddress());
    final Thread echo = new Thread(() -> {
      try {
        for (int served = 0; served < count; ++served) {
          try (Socket client = server.accept()) {
            client.getOutputStream().write(client.getInputStream().read());
          }
        }
      } catch (Exception e) {
        throw new RuntimeException(e);
      }
    }, "echo");
    echo.setDaemon(true);
    echo.start();
    final Object builder = Thread.class.getMethod("ofVirtual").invoke(null);
    final ThreadFactory factory =
        (ThreadFactory) Class.forName("java.lang.Thread$Builder").getMethod("factory").invoke(builder);
    final List<Thread> threads = new ArrayList<>();
    final int[] results = new int[count];
    for (int k = 0; k < count; ++k) {
      final int n = k;
      final Thread thread = factory.newThread(() -> {
        try {
          results[n] = work(server.getLocalPort(), n);
        } catch (Exception e) {
          throw new RuntimeException(e);
        }
      });
      thread.start();
      threads.add(thread);
    }
    for (Thread thread : threads) thread.join();
    echo.join();
    server.close();
    System.out.println("blocking done");
  }
}
