#include "widgets/qt/list_box_w_img.h"

#include <gtest/gtest.h>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>

#include <vector>

#include "qt_test_app.h"
#include "widgets/qt/resources.h"

namespace tertulia {
namespace {

const QColor kBase(255, 255, 255);
const QColor kText(0, 0, 0);
const QColor kHighlight(0, 0, 128);
const QColor kHighlightedText(255, 255, 0);
const QColor kImageColors[] = {QColor(255, 0, 0), QColor(0, 200, 0), QColor(0, 0, 255),
                               QColor(200, 0, 200), QColor(0, 200, 200)};

// 32 x 32 (or `size`) images: the left half in the image's colour, the right half transparent.
std::unique_ptr<TImageList> MakeImages(int count, int size = 32) {
    auto images = std::make_unique<TImageList>(size, size);
    for (int i = 0; i < count; ++i) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.fillRect(0, 0, size / 2, size, kImageColors[i]);
        painter.end();
        images->Add(pixmap);
    }
    return images;
}

class ListBoxTest : public ::testing::Test {
  protected:
    void SetUp() override {
        QPalette palette = list.palette();
        for (const auto group : {QPalette::Active, QPalette::Inactive}) {
            palette.setColor(group, QPalette::Base, kBase);
            palette.setColor(group, QPalette::Text, kText);
            palette.setColor(group, QPalette::Highlight, kHighlight);
            palette.setColor(group, QPalette::HighlightedText, kHighlightedText);
        }
        list.setPalette(palette);
        QFont font("DejaVu Sans");
        font.setPixelSize(11);
        font.setBold(true);
        list.setFont(font);
        list.setFrameShape(QFrame::NoFrame);
        list.resize(240, 200);
        // Only the focus test wants a focused row.
        list.setFocusPolicy(Qt::NoFocus);
    }

    void AddEntries(int count, const QString& text = QStringLiteral("TTTT")) {
        for (int i = 0; i < count; ++i) list.addItem(text);
    }

    QImage Render() {
        list.show();
        QApplication::processEvents();
        return list.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }

    QRect RowRect(int index) const { return list.visualItemRect(list.item(index)); }

    TListBoxWImg list;
};

TEST_F(ListBoxTest, ImagesAreChosenByPosition) {
    struct Row {
        const char* name;
        int images;
        int entries;
        std::vector<int> expected;
    };
    const Row rows[] = {
        {"one image, three entries: all show it", 1, 3, {0, 0, 0}},
        {"three images, two entries: by index", 3, 2, {0, 1}},
        {"two images, five entries: last image from its index on", 2, 5, {0, 1, 1, 1, 1}},
    };
    for (const Row& row : rows) {
        list.clear();
        auto images = MakeImages(row.images);
        AddEntries(row.entries);
        list.SetImagenes(images.get());
        const QImage shot = Render();
        for (int i = 0; i < row.entries; ++i) {
            const QRect rect = RowRect(i);
            EXPECT_EQ(shot.pixelColor(rect.left() + 4, rect.top() + 4),
                      kImageColors[row.expected[i]])
                << row.name << ", row " << i;
        }
    }
}

TEST_F(ListBoxTest, RowsAreAsHighAsTheImagesWhateverItemHeightWas) {
    AddEntries(2);
    list.SetItemHeight(50);
    auto images = MakeImages(1);
    list.SetImagenes(images.get());
    EXPECT_EQ(list.Style(), lbOwnerDrawFixed);
    EXPECT_EQ(list.ItemHeight(), 32);
    Render();
    EXPECT_EQ(RowRect(0).height(), 32);
    EXPECT_EQ(RowRect(1).top(), 32);

    auto small = MakeImages(1, 20);
    list.SetImagenes(small.get());
    Render();
    EXPECT_EQ(RowRect(1).top(), 20);
}

TEST_F(ListBoxTest, TextStartsTwoPixelsRightOfTheImageCentredByTheImageWidth) {
    auto images = MakeImages(1);
    AddEntries(1);
    list.SetImagenes(images.get());
    const QImage shot = Render();
    const QRect rect = RowRect(0);
    const int h = QFontMetrics(list.font()).height();
    const int top = rect.top() + 16 - h / 2;

    int leftmost = -1;
    int highest = rect.bottom();
    int lowest = rect.top();
    for (int x = rect.left() + 32; x < rect.right(); ++x) {
        for (int y = rect.top(); y <= rect.bottom(); ++y) {
            if (shot.pixelColor(x, y).lightness() < 128) {
                if (leftmost < 0) leftmost = x;
                highest = std::min(highest, y);
                lowest = std::max(lowest, y);
            }
        }
    }
    // The glyph of "T" starts at the text origin or a pixel after it.
    EXPECT_GE(leftmost, rect.left() + 34);
    EXPECT_LE(leftmost, rect.left() + 35);
    EXPECT_GE(highest, top);
    EXPECT_LT(lowest, top + h);
}

TEST_F(ListBoxTest, SelectedRowIsFilledWithHighlightBehindTransparentPixels) {
    auto images = MakeImages(1);
    AddEntries(3, QStringLiteral("MMMMMMMM"));
    list.SetImagenes(images.get());
    list.setCurrentRow(1);
    const QImage shot = Render();

    const QRect selected = RowRect(1);
    const QRect plain = RowRect(2);
    EXPECT_EQ(shot.pixelColor(selected.left() + 24, selected.top() + 4), kHighlight);
    EXPECT_EQ(shot.pixelColor(plain.left() + 24, plain.top() + 4), kBase);
    EXPECT_EQ(shot.pixelColor(selected.left() + 4, selected.top() + 4), kImageColors[0]);

    // The text is drawn in the highlight-text colour on the highlight, the other rows' in the
    // text colour.
    auto countColour = [&](const QRect& rect, const QColor& colour) {
        int n = 0;
        for (int x = rect.left() + 34; x < rect.left() + 120; ++x) {
            for (int y = rect.top() + 2; y < rect.bottom() - 1; ++y) {
                if (shot.pixelColor(x, y) == colour) ++n;
            }
        }
        return n;
    };
    EXPECT_GT(countColour(selected, kHighlightedText), 10);
    EXPECT_EQ(countColour(selected, kText), 0);
    EXPECT_GT(countColour(plain, kText), 10);
}

TEST_F(ListBoxTest, FocusedRowGetsTheDottedFocusRectangle) {
    auto images = MakeImages(1);
    AddEntries(2);
    list.SetImagenes(images.get());
    list.setFocusPolicy(Qt::StrongFocus);
    list.show();
    list.activateWindow();
    list.setFocus();
    list.setCurrentRow(0);
    QApplication::processEvents();
    if (!list.hasFocus()) GTEST_SKIP() << "the platform gives no keyboard focus";
    const QImage shot = Render();
    const QRect rect = RowRect(0);
    const QColor inverted(255 - kHighlight.red(), 255 - kHighlight.green(),
                          255 - kHighlight.blue());
    // Every other pixel along the top edge, past the image.
    EXPECT_EQ(shot.pixelColor(rect.left() + 40, rect.top()), inverted);
    EXPECT_EQ(shot.pixelColor(rect.left() + 41, rect.top()), kHighlight);
    EXPECT_EQ(shot.pixelColor(rect.left() + 40, RowRect(1).top()), kBase) << "only the focused row";
}

TEST_F(ListBoxTest, ImageListWithoutImagesGivesTextOnly) {
    auto images = MakeImages(0);
    AddEntries(1);
    list.SetImagenes(images.get());
    const QImage shot = Render();
    const QRect rect = RowRect(0);
    EXPECT_EQ(rect.height(), 32);
    for (int x = rect.left(); x < rect.left() + 34; ++x) {
        ASSERT_EQ(shot.pixelColor(x, rect.top() + 16), kBase) << x;
    }
}

TEST_F(ListBoxTest, ImagenesReplacesAnEarlierDrawHandler) {
    int formHandlerCalls = 0;
    list.OnDrawItem = [&](TListBoxWImg&, TCanvas&, int, const QRect&, TOwnerDrawState) {
        ++formHandlerCalls;
    };
    list.SetStyle(lbOwnerDrawFixed);
    AddEntries(2);
    Render();
    EXPECT_GT(formHandlerCalls, 0);

    formHandlerCalls = 0;
    auto images = MakeImages(1);
    list.SetImagenes(images.get());
    const QImage shot = Render();
    EXPECT_EQ(formHandlerCalls, 0);
    EXPECT_EQ(shot.pixelColor(RowRect(0).left() + 4, RowRect(0).top() + 4), kImageColors[0]);
}

TEST_F(ListBoxTest, DoubleClickIsPassedOn) {
    AddEntries(1);
    Render();
    int doubleClicks = 0;
    QObject::connect(&list, &TListBoxWImg::DblClick, [&] { ++doubleClicks; });
    const QPointF at(5, 5);
    QMouseEvent event(QEvent::MouseButtonDblClick, at, list.viewport()->mapToGlobal(at),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list.viewport(), &event);
    EXPECT_EQ(doubleClicks, 1);
}

TEST(ConversationPictureTest, IsA32PixelPictureWithTransparency) {
    const QPixmap picture = ConversationPixmap();
    EXPECT_EQ(picture.size(), QSize(32, 32));
    EXPECT_TRUE(picture.hasAlphaChannel());
}

}  // namespace
}  // namespace tertulia
