#include "app/Anchors.h"

#include <QEvent>
#include <QPointer>

#include <algorithm>

namespace {

struct AnchoredEdges {
  bool left{true};
  bool top{true};
  bool right{};
  bool bottom{};
};

struct Anchoring {
  QPointer<QWidget> child;
  AnchoredEdges edges;
  QMargins distances; // to the parent's left, top, right and bottom edges
};

AnchoredEdges EdgesOf(const QWidget* child) {
  const QVariant value = child->property("anchors");
  if (!value.isValid()) {
    return {};
  }
  const QStringList names = value.toString().split(u',', Qt::SkipEmptyParts);
  const auto has = [&names](QStringView edge) {
    return std::any_of(names.begin(), names.end(),
                       [edge](const QString& name) { return name.trimmed() == edge; });
  };
  return {has(u"left"), has(u"top"), has(u"right"), has(u"bottom")};
}

// Places one span (horizontal or vertical) of a child in a parent of the given extent.
std::pair<int, int> Place(bool nearAnchored, bool farAnchored, int nearDistance, int farDistance,
                          int position, int length, int extent) {
  if (nearAnchored && farAnchored) {
    return {nearDistance, std::max(0, extent - nearDistance - farDistance)};
  }
  if (farAnchored) {
    return {extent - farDistance - length, length};
  }
  return {position, length};
}

class AnchorKeeper : public QObject {
public:
  static constexpr const char* kName = "marquelo-anchor-keeper";

  explicit AnchorKeeper(QWidget* parent) : QObject(parent), parent_(parent) {
    setObjectName(QLatin1String(kName));
    parent->installEventFilter(this);
  }

  void TakeIn(QWidget* child) {
    const bool known = std::any_of(anchorings_.begin(), anchorings_.end(),
                                   [child](const Anchoring& a) { return a.child == child; });
    if (known || !child->property("anchors").isValid()) {
      return;
    }
    const QRect g = child->geometry();
    anchorings_.push_back({child, EdgesOf(child),
                           QMargins(g.left(), g.top(), parent_->width() - g.right() - 1,
                                    parent_->height() - g.bottom() - 1)});
  }

protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == parent_ && event->type() == QEvent::Resize) {
      for (const Anchoring& a : anchorings_) {
        if (a.child) {
          Apply(a);
        }
      }
    }
    return false;
  }

private:
  void Apply(const Anchoring& a) {
    const QRect g = a.child->geometry();
    const auto [x, width] = Place(a.edges.left, a.edges.right, a.distances.left(),
                                  a.distances.right(), g.x(), g.width(), parent_->width());
    const auto [y, height] = Place(a.edges.top, a.edges.bottom, a.distances.top(),
                                   a.distances.bottom(), g.y(), g.height(), parent_->height());
    a.child->setGeometry(x, y, width, height);
  }

  QWidget* parent_;
  QList<Anchoring> anchorings_;
};

} // namespace

void KeepAnchors(QWidget* parent) {
  auto* keeper = dynamic_cast<AnchorKeeper*>(
      parent->findChild<QObject*>(QLatin1String(AnchorKeeper::kName), Qt::FindDirectChildrenOnly));
  if (keeper == nullptr) {
    keeper = new AnchorKeeper(parent);
  }
  for (QWidget* child : parent->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
    keeper->TakeIn(child);
  }
}
