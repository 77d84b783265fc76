#include "app/JpegImage.h"

#include "tests/support/NamedRow.h"

#include <QColor>
#include <QFile>
#include <gtest/gtest.h>

#include <ostream>

#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>
#include <vector>

namespace {

// A picture encoded here with libjpeg itself: the left half red, the right half blue (or
// grey levels for one component, or CMYK for four).
QByteArray EncodeTwoHalves(int width, int height, int components, J_COLOR_SPACE space,
                           bool progressive = false) {
  jpeg_compress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = JDIMENSION(width);
  info.image_height = JDIMENSION(height);
  info.input_components = components;
  info.in_color_space = space;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 95, TRUE);
  if (progressive) {
    jpeg_simple_progression(&info);
  }
  jpeg_start_compress(&info, TRUE);
  std::vector<unsigned char> row(size_t(width) * components);
  for (int x = 0; x < width; ++x) {
    unsigned char* pixel = &row[size_t(x) * components];
    const bool left = x < width / 2;
    if (components == 3) {
      pixel[0] = left ? 220 : 20;
      pixel[1] = 20;
      pixel[2] = left ? 20 : 220;
    } else {
      for (int c = 0; c < components; ++c) {
        pixel[c] = left ? 40 : 200;
      }
    }
  }
  while (info.next_scanline < info.image_height) {
    JSAMPROW rows[] = {row.data()};
    jpeg_write_scanlines(&info, rows, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  QByteArray bytes(reinterpret_cast<const char*>(buffer), qsizetype(size));
  std::free(buffer);
  return bytes;
}

void ExpectNear(QColor actual, QColor expected) {
  EXPECT_NEAR(actual.red(), expected.red(), 8);
  EXPECT_NEAR(actual.green(), expected.green(), 8);
  EXPECT_NEAR(actual.blue(), expected.blue(), 8);
}

TEST(DecodeJpeg, GivesTheColoursOfABaselinePicture) {
  const QImage image = DecodeJpeg(EncodeTwoHalves(64, 16, 3, JCS_RGB));
  ASSERT_EQ(image.size(), QSize(64, 16));
  ExpectNear(image.pixelColor(4, 8), QColor(220, 20, 20));
  ExpectNear(image.pixelColor(60, 8), QColor(20, 20, 220));
}

TEST(DecodeJpeg, DecodesProgressiveAndGreyPicturesToo) {
  const QImage progressive = DecodeJpeg(EncodeTwoHalves(32, 32, 3, JCS_RGB, true));
  ExpectNear(progressive.pixelColor(2, 2), QColor(220, 20, 20));
  const QImage grey = DecodeJpeg(EncodeTwoHalves(32, 8, 1, JCS_GRAYSCALE));
  ExpectNear(grey.pixelColor(2, 2), QColor(40, 40, 40));
  ExpectNear(grey.pixelColor(30, 2), QColor(200, 200, 200));
}

TEST(DecodeJpeg, TheBannerIsABaseline251By27PictureOfThreeComponents) {
  EXPECT_EQ(LoadJpeg(QStringLiteral(":/banner.jpg")).size(), QSize(251, 27));
  QFile file(QStringLiteral(":/banner.jpg"));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray data = file.readAll();
  // Baseline frame header: marker, length, 8-bit precision, height 27, width 251, 3 components.
  const QByteArray baselineFrame("\xFF\xC0\x00\x11\x08\x00\x1B\x00\xFB\x03", 10);
  EXPECT_TRUE(data.contains(baselineFrame));
  EXPECT_FALSE(data.contains(QByteArray("\xFF\xC2", 2))); // no progressive frame
}

struct BadCase : testsupport::NamedRow {
  QByteArray data;
  const char* messageStart;
};

QByteArray Truncated() {
  const QByteArray whole = EncodeTwoHalves(64, 64, 3, JCS_RGB);
  return whole.first(whole.size() / 2);
}

// A small picture whose frame header announces 60000 x 60000 pixels.
QByteArray AnnouncingHugeSize() {
  QByteArray data = EncodeTwoHalves(8, 8, 3, JCS_RGB);
  const qsizetype frame = data.indexOf(QByteArray("\xFF\xC0", 2));
  EXPECT_GE(frame, 0);
  // marker, length (2), precision (1), then height and width, big-endian
  for (const qsizetype at : {frame + 5, frame + 7}) {
    data[at] = char(0xEA);
    data[at + 1] = char(0x60);
  }
  return data;
}

class DecodeJpegRefuses : public testing::TestWithParam<BadCase> {};

TEST_P(DecodeJpegRefuses, WithAMessageAndWithoutLeavingTheProcess) {
  try {
    DecodeJpeg(GetParam().data);
    FAIL() << "decoded";
  } catch (const EJpegDecodeError& failure) {
    EXPECT_TRUE(failure.Message().startsWith(QString::fromUtf8(GetParam().messageStart)))
        << failure.Message().toStdString();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, DecodeJpegRefuses,
    testing::Values(BadCase{"Empty", QByteArray(), "The JPEG picture cannot be decoded: "},
                    BadCase{"NotAJpeg", QByteArray("GIF89a and more bytes"),
                            "The JPEG picture cannot be decoded: "},
                    BadCase{"Truncated", Truncated(), "The JPEG picture cannot be decoded: "},
                    BadCase{"FourComponents", EncodeTwoHalves(16, 16, 4, JCS_CMYK),
                            "The JPEG picture has 4 colour components"},
                    BadCase{"HugeAnnouncedSize", AnnouncingHugeSize(),
                            "The JPEG picture announces 60000 x 60000 pixels"}),
    testsupport::RowName());

TEST(LoadJpeg, AMissingFileIsAFailureToo) {
  EXPECT_THROW(LoadJpeg(QStringLiteral(":/no-such-picture.jpg")), EJpegDecodeError);
}

} // namespace
