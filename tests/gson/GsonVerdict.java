// Reads page texts, one a line as the hex of their modified UTF-8 bytes,
// and prints for each what the game's reader makes of it: "!" when it
// refuses the text, else the value in the form json_probe prints.
import com.google.gson.JsonElement;
import com.google.gson.JsonParser;
import java.io.BufferedReader;
import java.io.ByteArrayInputStream;
import java.io.DataInputStream;
import java.io.InputStreamReader;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.util.Map;

public class GsonVerdict {
  static String hex(String s) {
    StringBuilder out = new StringBuilder();
    for (char c : s.toCharArray()) {
      if (c != 0 && c < 0x80) {
        out.append(String.format("%02x", (int) c));
      } else if (c < 0x800) {
        out.append(String.format("%02x%02x", 0xC0 | (c >> 6), 0x80 | (c & 0x3F)));
      } else {
        out.append(String.format("%02x%02x%02x", 0xE0 | (c >> 12), 0x80 | ((c >> 6) & 0x3F), 0x80 | (c & 0x3F)));
      }
    }
    return out.toString();
  }

  static void write(JsonElement e, StringBuilder out) {
    if (e.isJsonNull()) {
      out.append('z');
    } else if (e.isJsonArray()) {
      out.append('[');
      for (JsonElement x : e.getAsJsonArray()) write(x, out);
      out.append(']');
    } else if (e.isJsonObject()) {
      out.append('{');
      for (Map.Entry<String, JsonElement> m : e.getAsJsonObject().entrySet()) {
        out.append(hex(m.getKey())).append(':');
        write(m.getValue(), out);
      }
      out.append('}');
    } else if (e.getAsJsonPrimitive().isBoolean()) {
      out.append(e.getAsBoolean() ? 't' : 'f');
    } else if (e.getAsJsonPrimitive().isNumber()) {
      out.append('n').append(e.getAsString()).append('.');
    } else {
      out.append('s').append(hex(e.getAsString())).append('.');
    }
  }

  public static void main(String[] args) throws Exception {
    BufferedReader in = new BufferedReader(new InputStreamReader(System.in, StandardCharsets.US_ASCII));
    PrintStream out = new PrintStream(new java.io.BufferedOutputStream(System.out, 1 << 16), false, "US-ASCII");
    for (String line; (line = in.readLine()) != null;) {
      byte[] bytes = new byte[line.length() / 2 + 2];
      bytes[0] = (byte) ((line.length() / 2) >> 8);
      bytes[1] = (byte) (line.length() / 2);
      for (int i = 0; i < line.length() / 2; ++i) bytes[i + 2] = (byte) Integer.parseInt(line.substring(2 * i, 2 * i + 2), 16);
      String text = new DataInputStream(new ByteArrayInputStream(bytes)).readUTF();
      StringBuilder verdict = new StringBuilder();
      try {
        write(JsonParser.parseString(text), verdict);
      } catch (RuntimeException | StackOverflowError e) {
        verdict.setLength(0);
        verdict.append('!');
      }
      out.println(verdict);
    }
    out.flush();
  }
}
