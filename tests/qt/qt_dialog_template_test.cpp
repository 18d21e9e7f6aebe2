// The two dialog templates as Qt lays them out: every control found by its
// identifier, with its kind, text, settings and rectangle converted from
// dialog units, the tab order and the window's frame.
#include <QComboBox>
#include <QFontDatabase>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/qt/qt_test_support.h"
#include "ui/qt/about_dlg.h"
#include "ui/qt/dialog_units.h"

namespace kv {
namespace {

// With DejaVu Sans 9 pt both base units come to 1.75 px per dialog unit; the
// pixel values below are computed independently of the code's conversion.
int Px(int du) { return static_cast<int>(std::lround(du * 1.75)); }
QRect PxRect(int x, int y, int w, int h) { return QRect(Px(x), Px(y), Px(w), Px(h)); }

class TemplateTest : public testing::Test {
 protected:
  void SetUp() override {
    saved_ = QApplication::font();
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 9));
    const DialogBaseUnits units = BaseUnitsOf(QApplication::font());
    if (units.x != 7 || units.y != 14) {
      GTEST_SKIP() << "DejaVu Sans 9 pt measures " << units.x << "x" << units.y << " here, not 7x14";
    }
  }
  void TearDown() override { QApplication::setFont(saved_); }

  QFont saved_;
};

enum class Kind { kButton, kStatic, kList, kBar, kField, kFrame };

struct ControlRow {
  int id;
  const char* name;  // statics only
  Kind kind;
  const char* text;
  int x, y, w, h;
  bool tabStop;
};

// Template 103 in its own order.
const ControlRow kTemplate103[] = {
    {1, nullptr, Kind::kButton, "Execute", 119, 138, 50, 16, true},
    {2, nullptr, Kind::kButton, "Exit", 182, 138, 50, 16, true},
    {-1, "midiInLabel", Kind::kStatic, "MIDI IN", 7, 7, 225, 8, false},
    {-1, "midiOutLabel", Kind::kStatic, "MIDI OUT", 7, 37, 225, 8, false},
    {1000, nullptr, Kind::kList, "", 7, 15, 225, 115, true},
    {1001, nullptr, Kind::kList, "", 7, 45, 225, 115, true},
    {1002, nullptr, Kind::kBar, "", 7, 107, 225, 14, false},
    {1003, nullptr, Kind::kField, "", 12, 91, 220, 12, true},
    {1004, nullptr, Kind::kButton, "Rescan Device", 145, 65, 87, 16, true},
    {1005, nullptr, Kind::kFrame, "", 7, 134, 20, 20, false},
    {1006, nullptr, Kind::kField, "", 12, 78, 29, 12, true},
};

QWidget* Find(const QWidget& window, const ControlRow& row) {
  if (row.name != nullptr) {
    return window.findChild<QWidget*>(QString::fromLatin1(row.name));
  }
  for (QWidget* child : window.findChildren<QWidget*>()) {
    if (child->property(kControlIdProperty).isValid() && child->property(kControlIdProperty).toInt() == row.id) {
      return child;
    }
  }
  return nullptr;
}

void ExpectControl(const QWidget& window, const ControlRow& row) {
  SCOPED_TRACE(row.name != nullptr ? row.name : std::to_string(row.id).c_str());
  QWidget* widget = Find(window, row);
  ASSERT_NE(widget, nullptr);
  EXPECT_EQ(widget->property(kControlIdProperty).toInt(), row.id);
  const QRect expected = PxRect(row.x, row.y, row.w, row.h);
  EXPECT_EQ(widget->focusPolicy() == Qt::StrongFocus, row.tabStop);
  EXPECT_TRUE(widget->isEnabled());
  switch (row.kind) {
    case Kind::kButton: {
      auto* button = qobject_cast<QPushButton*>(widget);
      ASSERT_NE(button, nullptr);
      EXPECT_EQ(button->text(), QString::fromLatin1(row.text));
      EXPECT_EQ(button->geometry(), expected);
      break;
    }
    case Kind::kStatic: {
      auto* label = qobject_cast<QLabel*>(widget);
      ASSERT_NE(label, nullptr);
      EXPECT_EQ(label->text(), QString::fromLatin1(row.text));
      EXPECT_TRUE(label->alignment() & Qt::AlignLeft);
      EXPECT_EQ(label->geometry(), expected);
      break;
    }
    case Kind::kList: {
      auto* list = qobject_cast<QComboBox*>(widget);
      ASSERT_NE(list, nullptr);
      EXPECT_FALSE(list->isEditable());
      EXPECT_EQ(list->count(), 0);
      EXPECT_EQ(list->currentIndex(), -1);
      // The template's height counts the dropped list; closed, the box has its natural height.
      EXPECT_EQ(list->geometry(), QRect(expected.x(), expected.y(), expected.width(), list->sizeHint().height()));
      break;
    }
    case Kind::kBar: {
      auto* bar = qobject_cast<QProgressBar*>(widget);
      ASSERT_NE(bar, nullptr);
      EXPECT_FALSE(bar->isTextVisible());
      EXPECT_EQ(bar->minimum(), 0);
      EXPECT_EQ(bar->value(), 0);
      EXPECT_EQ(bar->geometry(), expected);
      break;
    }
    case Kind::kField: {
      auto* field = qobject_cast<QLineEdit*>(widget);
      ASSERT_NE(field, nullptr);
      EXPECT_TRUE(field->isReadOnly());
      EXPECT_FALSE(field->hasFrame());
      EXPECT_TRUE(field->text().isEmpty());
      EXPECT_EQ(field->geometry(), expected);
      break;
    }
    case Kind::kFrame: {
      auto* frame = qobject_cast<QFrame*>(widget);
      ASSERT_NE(frame, nullptr);
      EXPECT_EQ(frame->frameShadow(), QFrame::Sunken);
      EXPECT_EQ(frame->geometry(), expected);
      break;
    }
  }
}

TEST_F(TemplateTest, UpdaterDialogHasEveryControlOfTemplate103AtItsPlace) {
  UpdatorDialogWindow window;
  for (const ControlRow& row : kTemplate103) {
    ExpectControl(window, row);
  }

  EXPECT_EQ(window.size(), QSize(Px(239), Px(161)));
  EXPECT_EQ(window.minimumSize(), window.maximumSize());
  const Qt::WindowFlags flags = window.windowFlags();
  EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_TRUE(window.windowTitle().isEmpty());  // the hub sets it

  auto* execute = test::ControlOf<QPushButton>(window, 1);
  ASSERT_NE(execute, nullptr);
  EXPECT_TRUE(execute->isDefault());
}

TEST_F(TemplateTest, TabOrderFollowsTheTemplateAndExecuteHasTheFocusAtStart) {
  UpdatorDialogWindow window;
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  EXPECT_EQ(QApplication::focusWidget(), window.Control(1));

  std::vector<int> order;
  QWidget* widget = window.Control(1);
  do {
    if (widget->focusPolicy() & Qt::TabFocus) {
      order.push_back(widget->property(kControlIdProperty).toInt());
    }
    widget = widget->nextInFocusChain();
  } while (widget != window.Control(1));
  EXPECT_EQ(order, (std::vector<int>{1, 2, 1000, 1001, 1003, 1004, 1006}));

  // Tab walks the same way.
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), window.Control(2));
  window.reject();
}

TEST_F(TemplateTest, AboutBoxIsTemplate100) {
  UpdatorDialogWindow owner;
  CAboutDlg about(&owner, QStringLiteral("TARVO KV-12 v2.00 Updater"));
  EXPECT_EQ(about.windowTitle(), QStringLiteral("About KV-16 Updater"));
  EXPECT_EQ(about.size(), QSize(Px(235), Px(60)));
  EXPECT_EQ(about.minimumSize(), about.maximumSize());

  auto* icon = about.findChild<QLabel*>(QStringLiteral("aboutIcon"));
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(icon->geometry().topLeft(), QPoint(Px(11), Px(17)));
  EXPECT_EQ(icon->pixmap().size(), QSize(32, 32));

  auto* notice = about.findChild<QLabel*>(QStringLiteral("legalNotice"));
  ASSERT_NE(notice, nullptr);
  EXPECT_EQ(notice->geometry(), PxRect(40, 45, 188, 8));
  EXPECT_FALSE(notice->text().isEmpty());
  // One line that fits its rectangle.
  EXPECT_LE(notice->fontMetrics().horizontalAdvance(notice->text()), notice->width());

  QPushButton* ok = nullptr;
  QLineEdit* field = nullptr;
  for (QWidget* child : about.findChildren<QWidget*>()) {
    const int id = child->property(kControlIdProperty).toInt();
    if (id == 1) ok = qobject_cast<QPushButton*>(child);
    if (id == 1003) field = qobject_cast<QLineEdit*>(child);
  }
  ASSERT_NE(ok, nullptr);
  ASSERT_NE(field, nullptr);
  EXPECT_EQ(ok->text(), QStringLiteral("OK"));
  EXPECT_TRUE(ok->isDefault());
  EXPECT_EQ(ok->geometry(), PxRect(178, 7, 50, 16));
  EXPECT_EQ(field->geometry(), PxRect(39, 19, 134, 14));
  EXPECT_EQ(field->text(), QStringLiteral("TARVO KV-12 v2.00 Updater"));
  EXPECT_TRUE(field->isReadOnly());
  EXPECT_FALSE(field->hasFrame());
  EXPECT_EQ(about.parentWidget(), &owner);
}

// The conversion itself at the edges the layouts meet: halves round away
// from zero, and the two axes use their own base unit.
TEST(DialogUnitsTest, ConvertsWithTheRoundingOfTheDialogManager) {
  struct Row {
    DialogBaseUnits units;
    int du;
    int x, y;
  } rows[] = {
      {{7, 14}, 2, 4, 4},       // 3.5 -> 4 both ways
      {{7, 14}, 138, 242, 242}, // 241.5 -> 242
      {{6, 13}, 10, 15, 16},    // 15, 16.25 -> 16
      {{8, 16}, 161, 322, 322},
      {{7, 14}, -2, -4, -4},    // away from zero below 0 too
  };
  for (const Row& row : rows) {
    EXPECT_EQ(DialogUnitsToPixelsX(row.units, row.du), row.x) << row.du;
    EXPECT_EQ(DialogUnitsToPixelsY(row.units, row.du), row.y) << row.du;
  }
  // Base units from a font: average letter width rounded, then the line height.
  const QFont font(QStringLiteral("DejaVu Sans"), 9);
  const QFontMetrics metrics(font);
  const double average = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) / 52.0;
  const DialogBaseUnits units = BaseUnitsOf(font);
  EXPECT_EQ(units.x, static_cast<int>(std::lround(average)));
  EXPECT_EQ(units.y, metrics.height());
}

}  // namespace
}  // namespace kv
