// Multipart bodies: byte for byte against bodies written out by hand, and
// read back by a multipart parser we did not write (Python's email package).
// Posix only: these tests run servers and programs of the posix test host.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "support/NetTestServers.h"
#include "net/CLUtils.h"
#include "net/SingleDownloader.h"
#include "platform/Locale.h"
#include "support/EnvGuard.h"
#include "support/Sandbox.h"

namespace {

const std::string B = "---------------------------989989989";
const std::string NUL(1, '\0');

std::string ValuePart(const std::string& name, const std::string& encoded) {
  return "--" + B + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + encoded +
         "\r\n";
}

std::string FileHead(const std::string& name, const std::string& path) {
  return "--" + B + "\r\nContent-Disposition: form-data; name=\"" + name + "\"; filename=\"" +
         path + "\"\r\n";
}

TStringList Lines(std::initializer_list<std::string> lines) {
  TStringList l;
  for (auto& s : lines) l.Add(s);
  return l;
}

}  // namespace

class FilePostGenTest : public SandboxTest {};

TEST_F(FilePostGenTest, ValuesWithoutFileListHaveNoClosingDelimiter) {
  TFilePostGen gen;
  TStringList values = Lines({"a=b c"});
  ASSERT_TRUE(gen.Make(&values, nullptr));
  EXPECT_EQ(gen.PostData(), ValuePart("a", "b+c") + NUL);
  EXPECT_EQ(gen.Headers(), "Content-Type: multipart/form-data; boundary=" + B);

  // An empty file list closes the body.
  TStringList files;
  TStringList two = Lines({"x=1=2", "noequals", "u=\xC3\xA9&?/~"});
  ASSERT_TRUE(gen.Make(&two, &files));
  EXPECT_EQ(gen.PostData(), ValuePart("x", "1%3D2") + ValuePart("noequals", "") +
                                ValuePart("u", "%C3%A9%26%3F%2F%7E") + "--" + B + "--\r\n" + NUL);
  // Neither list: only the NUL character.
  ASSERT_TRUE(gen.Make(nullptr, nullptr));
  EXPECT_EQ(gen.PostData(), NUL);
}

TEST_F(FilePostGenTest, FilePartsFollowTheExtensionTable) {
  sb().WriteFile("f/photo.jpeg", "JPEGDATA");
  sb().WriteFile("f/Pic.JPG", "J2");
  sb().WriteFile("f/flag.Png", std::string("\x89PNG\r\n\x1a\n\x00\xff", 10));
  sb().WriteFile("f/doc.pdf", "%PDF");
  sb().WriteFile("f/page.HTML", "<p>");
  sb().WriteFile("f/anim.gif", "GIF89a");
  sb().WriteFile("f.d/noext", "plain");
  TStringList files = Lines({"p1=" + sb().Path("f/photo.jpeg"), "p2=" + sb().Path("f/Pic.JPG"),
                             "p3=" + sb().Path("f/flag.Png"), "p4=" + sb().Path("f/doc.pdf"),
                             "p5=" + sb().Path("f/page.HTML"), "p6=" + sb().Path("f/anim.gif"),
                             "p7=" + sb().Path("f.d/noext"), "empty="});
  TStringList values = Lines({"k=v"});
  TFilePostGen gen;
  ASSERT_TRUE(gen.Make(&values, &files));
  const std::string expected =
      ValuePart("k", "v") + FileHead("p1", sb().Path("f/photo.jpeg")) +
      "Content-Type: image/pjpeg\r\n\r\nJPEGDATA\r\n" + FileHead("p2", sb().Path("f/Pic.JPG")) +
      "Content-Type: image/pjpeg\r\n\r\nJ2\r\n" + FileHead("p3", sb().Path("f/flag.Png")) +
      "Content-Type: image/x-png\r\n\r\n" + std::string("\x89PNG\r\n\x1a\n\x00\xff", 10) + "\r\n" +
      FileHead("p4", sb().Path("f/doc.pdf")) + "Content-Type: application/pdf\r\n\r\n%PDF\r\n" +
      FileHead("p5", sb().Path("f/page.HTML")) + "Content-Type: text/html\r\n\r\n<p>\r\n" +
      FileHead("p6", sb().Path("f/anim.gif")) + "\r\nGIF89a\r\n" +
      FileHead("p7", sb().Path("f.d/noext")) + "\r\nplain\r\n" + FileHead("empty", "") +
      "Content-Transfer-Encoding: binary\r\n\r\n" + "--" + B + "--\r\n" + NUL;
  // The body on the wire is the low byte of every character.
  EXPECT_EQ(TextToLowBytes(gen.PostData()), expected);
}

TEST_F(FilePostGenTest, UnreadableFileKeepsThePreviousBody) {
  TFilePostGen gen;
  TStringList values = Lines({"a=1"});
  ASSERT_TRUE(gen.Make(&values, nullptr));
  const std::string before = gen.PostData();
  TStringList files = Lines({"f=" + sb().Path("missing.bin")});
  std::string error;
  EXPECT_FALSE(gen.Make(&values, &files, &error));
  EXPECT_NE(error.find("missing.bin"), std::string::npos);
  EXPECT_EQ(gen.PostData(), before);
  EXPECT_EQ(gen.Headers(), "Content-Type: multipart/form-data; boundary=" + B);

  // The downloader keeps its body and content type too.
  TSingleDownloader sd;
  sd.PostQuery = "kept=1";
  sd.ContentType = "Content-Type: text/plain";
  EXPECT_FALSE(sd.SetUploadFiles(&values, &files));
  EXPECT_EQ(sd.PostQuery, "kept=1");
  EXPECT_EQ(sd.ContentType, "Content-Type: text/plain");
}

TEST_F(FilePostGenTest, PythonsMultipartParserReadsTheSameFields) {
  std::string binary;
  for (int i = 255; i >= 0; --i) binary += static_cast<char>(i);
  sb().WriteFile("up/data.bin", binary);
  sb().WriteFile("up/p.png", "png bytes");
  TStringList values = Lines({"name=Jo Smith", "note=a&b=c", "utf=caf\xC3\xA9"});
  TStringList files =
      Lines({"file=" + sb().Path("up/data.bin"), "pic=" + sb().Path("up/p.png"), "none="});
  TFilePostGen gen;
  ASSERT_TRUE(gen.Make(&values, &files));
  // A message of the header line and the body, as a server would see it.
  sb().WriteFile("message.bin", gen.Headers() + "\r\n\r\n" + TextToLowBytes(gen.PostData()));
  sb().WriteFile(
      "parse.py",
      "import email, sys\n"
      "msg = email.message_from_bytes(open(sys.argv[1], 'rb').read())\n"
      "assert msg.is_multipart() and not msg.defects, msg.defects\n"
      "for p in msg.get_payload():\n"
      "    print('%s|%s|%s|%s' % (p.get_param('name', header='content-disposition'),\n"
      "          p.get_filename(), p.get_content_type() if p.get('Content-Type') else '-',\n"
      "          (p.get_payload(decode=True) or b'').hex()))\n");
  const std::string cmd = "python3 '" + sb().Path("parse.py") + "' '" + sb().Path("message.bin") +
                          "' > '" + sb().Path("parsed.txt") + "' 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << sb().ReadFile("parsed.txt");
  auto hex = [](const std::string& s) {
    std::ostringstream o;
    for (unsigned char c : s) o << "0123456789abcdef"[c >> 4] << "0123456789abcdef"[c & 15];
    return o.str();
  };
  const std::string expected = "name|None|-|" + hex("Jo+Smith") + "\n" + "note|None|-|" +
                               hex("a%26b%3Dc") + "\n" + "utf|None|-|" + hex("caf%C3%A9") + "\n" +
                               "file|" + sb().Path("up/data.bin") + "|-|" + hex(binary) + "\n" +
                               "pic|" + sb().Path("up/p.png") + "|image/x-png|" + hex("png bytes") +
                               "\n" + "none||-|\n";
  EXPECT_EQ(sb().ReadFile("parsed.txt"), expected);
}

// Builds a Latin-1 locale in the sandbox; false where the locale sources are
// not installed.
static bool MakeLatin1Locale(const Sandbox& sb) {
  std::string cmd = "mkdir -p '" + sb.Path("locales") + "' && localedef -i de_DE -f ISO-8859-1 '" +
                    sb.Path("locales/de_DE.ISO-8859-1") + "' >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0;
}

TEST_F(FilePostGenTest, ValuesAreEncodedInTheAnsiCodePage) {
  if (!MakeLatin1Locale(sb())) GTEST_SKIP() << "localedef cannot build de_DE.ISO-8859-1 here";
  TFilePostGen gen;
  TSingleDownloader sd;
  {
    testsupport::EnvGuard env("LOCPATH", sb().Path("locales"));
    env.Set("LC_ALL", "de_DE.ISO-8859-1");
    // e-acute is one Latin-1 byte; a Chinese letter becomes the default "?".
    TStringList values = Lines({"v=caf\xC3\xA9 \xE4\xB8\xAD"});
    ASSERT_TRUE(gen.Make(&values, nullptr));
    sd.SetPostValues(&values);
  }
  EXPECT_EQ(gen.PostData(), ValuePart("v", "caf%E9+%3F") + NUL);
  EXPECT_EQ(sd.PostQuery, "v=caf%E9+%3F");
}

#endif  // _WIN32
