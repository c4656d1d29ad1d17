#include "Details/ReviewText.h"

#include <QIcon>
#include <QTextCursor>
#include <algorithm>

#include "Browsing/BrowsingText.h"

static void initReviewResources() { Q_INIT_RESOURCE(Reviews); }

namespace ReviewText {

namespace {

QFont textFont(bool italic) {
    QFont font;
    font.setPixelSize(kTextPixelSize);
    font.setItalic(italic);
    return font;
}

// Appends `text` in the font; a foreground left unset follows the view's palette.
void append(QTextCursor& cursor, const QString& text, bool italic, const QColor& color = {}) {
    QTextCharFormat format;
    format.setFont(textFont(italic));
    if (color.isValid()) format.setForeground(color);
    cursor.insertText(text, format);
}

QTextCursor restart(QTextDocument* document) {
    document->clear();
    document->setDefaultFont(textFont(false));
    return QTextCursor(document);
}

QString q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

QPixmap star(bool selected, int size) {
    static const bool ready = (initReviewResources(), true);
    (void)ready;
    return QIcon(selected ? QStringLiteral(":/Images/Reviews/starSelected.svg") : QStringLiteral(":/Images/Reviews/star.svg"))
        .pixmap(size, size);
}

int clampedStars(int64_t rating) { return static_cast<int>(std::clamp<int64_t>(rating, 0, 5)); }

void showStars(const std::array<QLabel*, 5>& stars, int64_t rating) {
    const int full = clampedStars(rating);
    for (int i = 0; i < 5; ++i) {
        if (!stars[i]) continue;
        const int side = std::max(8, std::min(stars[i]->width(), stars[i]->height()));
        stars[i]->setPixmap(star(i < full, side));
        stars[i]->setProperty("starSelected", i < full);
    }
}

QString capitalizedWords(const QString& text) {
    QString out;
    out.reserve(text.size());
    bool wordStart = true;
    for (qsizetype i = 0; i < text.size(); ++i) {
        // A surrogate pair is one letter.
        const qsizetype length = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QString letter = text.mid(i, length);
        i += length - 1;
        if (letter.at(0).isSpace()) {
            out += letter;
            wordStart = true;
            continue;
        }
        out += wordStart ? letter.toUpper() : letter.toLower();
        wordStart = false;
    }
    return out;
}

void fillVotes(QTextDocument* document, const ZMReviews& review) {
    QTextCursor cursor = restart(document);
    append(cursor, "+" + q(review.upvotes) + " ", false, QColor::fromRgbF(1, 0, 0, 1));
    append(cursor, "-" + q(review.downvotes), false, QColor::fromRgbF(0.46, 0.53, 1.0, 1));
}

void fillListComment(QTextDocument* document, const ZMReviews& review, const std::string& maintainer) {
    QTextCursor cursor = restart(document);
    if (review.reply) append(cursor, BrowsingText::q("Developer \"%@\" replied\n\n", maintainer), true);
    append(cursor, q(review.desc), false);
}

void fillFullComment(QTextDocument* document, const ZMReviews& review, const std::string& maintainer) {
    QTextCursor cursor = restart(document);
    append(cursor, q(review.desc), false);
    if (!review.reply) return;
    // The heading and the reply share the italic run. The template's own
    // placeholders are filled in order (a name holding "%@" stays as it is).
    const QStringList parts = BrowsingText::q("\n\nDeveloper \"%@\" reply:\n%@").split("%@");
    const QString values[] = {q(maintainer), q(*review.reply)};
    QString note;
    for (qsizetype i = 0; i < parts.size(); ++i) note += parts[i] + (i < 2 && i + 1 < parts.size() ? values[i] : QString());
    append(cursor, note, true);
}

QLabel* plainLabel(const char* objectName) {
    auto* label = new QLabel;
    if (objectName) label->setObjectName(objectName);
    label->setTextFormat(Qt::PlainText);
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    return label;
}

QTextBrowser* passiveTextView(const char* objectName) {
    auto* view = new QTextBrowser;
    if (objectName) view->setObjectName(objectName);
    view->setOpenLinks(false);
    view->setFrameShape(QFrame::NoFrame);
    view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view->setFocusPolicy(Qt::NoFocus);
    view->viewport()->setAutoFillBackground(false);
    view->setStyleSheet(QStringLiteral("QTextBrowser { background: transparent; }"));
    view->document()->setDocumentMargin(0);
    return view;
}

}  // namespace ReviewText
