import java.io.FileInputStream;
import java.io.FileOutputStream;
import org.apache.poi.hssf.usermodel.HSSFWorkbook;

// Adds a sheet holding one text cell to an .xls workbook, in place: a second writer at work.
public class AddSheet {
  public static void main(String[] args) throws Exception {
    HSSFWorkbook book;
    try (FileInputStream in = new FileInputStream(args[0])) {
      book = new HSSFWorkbook(in);
    }
    book.createSheet(args[1]).createRow(0).createCell(0).setCellValue(args[2]);
    try (FileOutputStream out = new FileOutputStream(args[0])) {
      book.write(out);
    }
  }
}
