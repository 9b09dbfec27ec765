// Reading a task definition file: entries "key=[[value]]", level sections
// between two "<getmK>" markers, a-lists and display specs, each cut by the
// format's exact rules (first occurrence, case-sensitive).
#pragma once

#include <QString>
#include <QStringList>
#include <array>
#include <optional>

namespace caiji {

constexpr int MaxLevel = 30;
constexpr int MaxDisplaySpecs = 50;

// What a task start reads from the file. Index 0 of the level arrays is unused.
struct TaskDefinition
{
    QStringList schemeField;
    std::array<QString, MaxLevel + 1> section;
    std::array<QString, MaxLevel + 1> alist;
};

// The value of `key` without a presence test: a missing key cuts from the
// position its marker length gives (5 for two-letter keys). Nothing when no
// "]]" follows.
std::optional<QString> entryValue(const QString &text, const QString &key);

// The value of `key` only when "key=[[" occurs and a "]]" follows it.
std::optional<QString> presentEntryValue(const QString &text, const QString &key);

// The text between the first two "<getmK>" markers, when both are there.
std::optional<QString> levelSection(const QString &text, int level);

// The a-list K ("aK=[[...]]"), when present.
std::optional<QString> alistEntry(const QString &text, int k);

// Up to 50 display specs, each search starting at the "]]" that closed the
// one before; the walk stops at the first one not found or not closed.
QStringList displaySpecs(const QString &text);

// Reads "ur", then the level section and the a-list K for K = 1..30 into
// `definition`. Sections and a-lists that are absent keep their value, so
// callers that start a task clear `definition` first. A "ur" that cannot be
// cut leaves the scheme fields as they were.
void readTaskDefinition(const QString &text, TaskDefinition &definition);

} // namespace caiji
