#pragma once
// How the review screens draw a review (ZMReviews): its title, stars, vote
// counts and text with the developer's reply. Every text of a review comes
// from the maker's server: it goes into documents as plain text with
// character formats, never as markup.
#include <QFont>
#include <QLabel>
#include <QPixmap>
#include <QString>
#include <QTextBrowser>
#include <QTextDocument>
#include <array>
#include <cstdint>
#include <string>

#include "Services/ZMReviews.h"

namespace ReviewText {

// The text size of comments and votes.
inline constexpr int kTextPixelSize = 15;

// The bundled "starSelected" (full) or "star" (empty) image at `size`.
QPixmap star(bool selected, int size);
// A server's text in a label: plain, cut at its end rather than widening
// its row.
QLabel* plainLabel(const char* objectName = nullptr);
// A review's document in a view of fixed size: no frame, bars, focus or
// background; its links do not open.
QTextBrowser* passiveTextView(const char* objectName = nullptr);

// The first `rating` of the five show a full star, the others an empty one;
// a rating outside 0...5 is taken as its nearest end.
void showStars(const std::array<QLabel*, 5>& stars, int64_t rating);
int clampedStars(int64_t rating);

// Each word (what lies between blanks) with its first letter in upper case
// and the rest in lower case: "gREAT tweak" -> "Great Tweak".
QString capitalizedWords(const QString& text);

// "+<upvotes> " in red, then "-<downvotes>" in blue.
void fillVotes(QTextDocument* document, const ZMReviews& review);
// The list's text: with a reply, the italic note "Developer "<maintainer>"
// replied" and a blank line before the review's own text; else the text alone.
void fillListComment(QTextDocument* document, const ZMReviews& review, const std::string& maintainer);
// The full review's text: the review's own text, then with a reply a blank
// line, the italic heading "Developer "<maintainer>" reply:" and the reply.
void fillFullComment(QTextDocument* document, const ZMReviews& review, const std::string& maintainer);

}  // namespace ReviewText
