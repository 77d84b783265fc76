#pragma once

// Edge anchors for absolutely placed controls. A control whose "anchors" property lists
// edges ("left", "top", "right", "bottom", comma-separated; left and top when absent) keeps
// its distance to those edges of its parent when the parent is resized: anchored on both
// sides it stretches, on the right or bottom only it moves.

#include <QWidget>

// Starts keeping the anchors of parent's direct children, measuring their distances to the
// parent's edges as they stand now. Children added later are taken in by calling it again.
// The keeper is a child object of parent and lives as long as parent does.
void KeepAnchors(QWidget* parent);
