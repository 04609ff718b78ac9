#include "components/WindowChannel.h"

#include <QList>
#include <QUrl>

#include <utility>

namespace pellamark {

namespace {

using Kind = WindowMessage::Kind;

// How many numbers a message carries, and whether it carries text or data.
struct Shape {
    Kind kind;
    const char* word;
    int numbers;
    bool text;
    bool data;
};

constexpr Shape Shapes[] = {
    {Kind::Hello, "hello", 1, false, false},     {Kind::Show, "show", 1, false, false},
    {Kind::Hide, "hide", 1, false, false},       {Kind::Minimise, "minimise", 1, false, false},
    {Kind::Restore, "restore", 1, false, false}, {Kind::Focus, "focus", 0, false, false},
    {Kind::Prepare, "prepare", 0, false, false}, {Kind::Page, "page", 0, true, false},
    {Kind::ViewSize, "view", 2, false, false},   {Kind::Placement, "placement", 0, false, true},
    {Kind::Close, "close", 0, false, false},     {Kind::State, "state", 4, false, false},
    {Kind::Menu, "menu", 0, true, false},        {Kind::Placed, "placed", 0, false, true},
    {Kind::Zoom, "zoom", 1, false, false},       {Kind::Zoomed, "zoomed", 1, false, false},
    {Kind::Renew, "renew", 0, false, false},
};

const Shape* shapeOf(Kind kind) {
    for (const Shape& shape : Shapes)
        if (shape.kind == kind)
            return &shape;
    return nullptr;
}

} // namespace

QByteArray encodeWindowMessage(const WindowMessage& message) {
    const Shape* shape = shapeOf(message.kind);
    if (!shape)
        return {};
    QByteArray line(shape->word);
    for (int i = 0; i < shape->numbers; ++i)
        line += ' ' + QByteArray::number(message.numbers[static_cast<std::size_t>(i)]);
    // The empty text and data are sent as "-", which neither encoding produces (a "-" in the
    // text is encoded).
    auto field = [](const QByteArray& encoded) { return encoded.isEmpty() ? "-" : encoded; };
    if (shape->text)
        line += ' ' + field(QUrl::toPercentEncoding(message.text, {}, "-"));
    if (shape->data)
        line += ' ' + field(message.data.toBase64());
    return line + '\n';
}

std::optional<WindowMessage> decodeWindowMessage(QByteArray line) {
    if (line.endsWith('\n'))
        line.chop(1);
    const QList<QByteArray> fields = line.split(' ');
    for (const Shape& shape : Shapes) {
        if (fields.first() != shape.word)
            continue;
        const int extra = (shape.text ? 1 : 0) + (shape.data ? 1 : 0);
        if (fields.size() != 1 + shape.numbers + extra)
            return std::nullopt;
        WindowMessage message;
        message.kind = shape.kind;
        for (int i = 0; i < shape.numbers; ++i) {
            bool ok = false;
            message.numbers[static_cast<std::size_t>(i)] = fields[1 + i].toInt(&ok);
            if (!ok)
                return std::nullopt;
        }
        const QByteArray& last = fields.last();
        const QByteArray value = last == "-" ? QByteArray() : last;
        if (shape.text)
            message.text = QUrl::fromPercentEncoding(value);
        if (shape.data) {
            auto decoded =
                QByteArray::fromBase64Encoding(value, QByteArray::AbortOnBase64DecodingErrors);
            if (!decoded)
                return std::nullopt;
            message.data = std::move(*decoded);
        }
        return message;
    }
    return std::nullopt;
}

} // namespace pellamark
