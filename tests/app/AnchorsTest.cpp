#include "app/Anchors.h"

#include <QWidget>
#include <gtest/gtest.h>

namespace {

QWidget* Child(QWidget* parent, QRect geometry, const char* anchors) {
  auto* child = new QWidget(parent);
  child->setGeometry(geometry);
  if (anchors != nullptr) {
    child->setProperty("anchors", QString::fromLatin1(anchors));
  }
  return child;
}

TEST(KeepAnchors, KeepsTheDistancesToTheAnchoredEdges) {
  QWidget parent;
  parent.resize(200, 100);
  parent.show(); // a hidden widget only hears of its resizes when shown
  QWidget* plain = Child(&parent, {10, 10, 30, 20}, nullptr);
  QWidget* stretched = Child(&parent, {10, 10, 100, 50}, "left,top,right,bottom");
  QWidget* movesRight = Child(&parent, {150, 10, 40, 20}, "right,top");
  QWidget* widens = Child(&parent, {20, 60, 100, 20}, "left, right, top");
  KeepAnchors(&parent);
  QWidget* late = Child(&parent, {5, 70, 20, 20}, "left,bottom");
  KeepAnchors(&parent);

  parent.resize(260, 140);

  EXPECT_EQ(plain->geometry(), QRect(10, 10, 30, 20));
  EXPECT_EQ(stretched->geometry(), QRect(10, 10, 160, 90));
  EXPECT_EQ(movesRight->geometry(), QRect(210, 10, 40, 20));
  EXPECT_EQ(widens->geometry(), QRect(20, 60, 160, 20));
  EXPECT_EQ(late->geometry(), QRect(5, 110, 20, 20));
}

TEST(KeepAnchors, TakingChildrenInTwiceMovesThemOnce) {
  QWidget parent;
  parent.resize(100, 100);
  parent.show();
  QWidget* movesRight = Child(&parent, {60, 0, 20, 20}, "right");
  KeepAnchors(&parent);
  KeepAnchors(&parent);
  parent.resize(150, 100);
  EXPECT_EQ(movesRight->geometry(), QRect(110, 0, 20, 20));
}

} // namespace
