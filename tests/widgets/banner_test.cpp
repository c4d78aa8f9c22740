#include "widgets/qt/banner.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "qt_test_app.h"
#include "widgets/qt/resources.h"

namespace tertulia {
namespace {

bool Near(const QColor& actual, const QColor& expected, int tolerance) {
    return std::abs(actual.red() - expected.red()) <= tolerance &&
           std::abs(actual.green() - expected.green()) <= tolerance &&
           std::abs(actual.blue() - expected.blue()) <= tolerance;
}

TEST(BannerTest, DecodesTheCompiledInPicture) {
    const QImage banner = LoadBanner();
    ASSERT_EQ(banner.size(), QSize(274, 50));
    // A gradient that ends in the panel colour at the bottom; the corners hold no lettering.
    const QColor panel(128, 167, 210);
    EXPECT_TRUE(Near(banner.pixelColor(3, 47), panel, 8))
        << banner.pixelColor(3, 47).name().toStdString();
    EXPECT_TRUE(Near(banner.pixelColor(270, 2), QColor(168, 198, 232), 8))
        << banner.pixelColor(270, 2).name().toStdString();
    // The lettering is white.
    int white = 0;
    for (int x = 0; x < banner.width(); ++x) {
        if (Near(banner.pixelColor(x, 25), Qt::white, 20)) ++white;
    }
    EXPECT_GT(white, 10);
}

TEST(BannerTest, DamagedPicturesAreReportedNotShown) {
    const QByteArray whole = BannerJpeg();
    ASSERT_FALSE(whole.isEmpty());
    QByteArray flipped = whole;
    for (qsizetype i = whole.size() / 2; i < whole.size() - 2; i += 7) flipped[i] = '\xff';
    struct Row {
        const char* name;
        QByteArray bytes;
    };
    const Row rows[] = {
        {"no bytes", QByteArray()},
        {"not a JPEG", QByteArray("GIF89a this is something else")},
        {"cut in half", whole.left(whole.size() / 2)},
        {"damaged data", flipped},
    };
    for (const Row& row : rows) {
        try {
            DecodeJpeg(row.bytes);
            ADD_FAILURE() << row.name << ": decoded";
        } catch (const std::runtime_error& error) {
            EXPECT_EQ(std::string(error.what()).rfind("Cannot decode JPEG picture: ", 0), 0u)
                << row.name << ": " << error.what();
        }
    }
}

TEST(TrayPictureTest, IsA32PixelPictureWithTransparency) {
    const QPixmap picture = TrayIconPixmap();
    EXPECT_EQ(picture.size(), QSize(32, 32));
    EXPECT_TRUE(picture.toImage().pixelColor(0, 31).alpha() == 0);
}

}  // namespace
}  // namespace tertulia
