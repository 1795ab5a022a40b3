// Build-time tool: renders the window's SVG artwork into the PNG and ICO files of the resources.
//
//   dd_imagegen <input.svg> <output.png> <width>x<height>
//   dd_imagegen <input.svg> <output.ico> <size> [<size>...]
//
// An ICO file holds one PNG-compressed image per size (square), the layout every current
// icon reader understands.

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QList>
#include <QPainter>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QSvgRenderer>
#include <QtEndian>

#include <cstdio>

namespace {

QImage render(QSvgRenderer& svg, QSize size)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    svg.render(&painter);
    painter.end();
    return image;
}

QByteArray pngBytes(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

void appendLe16(QByteArray& out, quint16 value)
{
    const quint16 le = qToLittleEndian(value);
    out.append(reinterpret_cast<const char*>(&le), sizeof le);
}

void appendLe32(QByteArray& out, quint32 value)
{
    const quint32 le = qToLittleEndian(value);
    out.append(reinterpret_cast<const char*>(&le), sizeof le);
}

QByteArray icoBytes(const QList<QImage>& images)
{
    constexpr int headerBytes = 6;
    constexpr int entryBytes = 16;
    QList<QByteArray> pngs;
    for (const QImage& image : images)
        pngs.append(pngBytes(image));

    QByteArray out;
    appendLe16(out, 0); // reserved
    appendLe16(out, 1); // icon
    appendLe16(out, quint16(images.size()));
    quint32 offset = headerBytes + entryBytes * quint32(images.size());
    for (int i = 0; i < images.size(); ++i) {
        // A dimension of 256 is written as 0.
        out.append(char(images[i].width() & 0xff));
        out.append(char(images[i].height() & 0xff));
        out.append(char(0)); // no palette
        out.append(char(0)); // reserved
        appendLe16(out, 1);  // colour planes
        appendLe16(out, 32); // bits per pixel
        appendLe32(out, quint32(pngs[i].size()));
        appendLe32(out, offset);
        offset += quint32(pngs[i].size());
    }
    for (const QByteArray& png : pngs)
        out.append(png);
    return out;
}

// "<width>x<height>", or one number for a square.
QSize parseSize(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char('x'));
    if (parts.size() > 2)
        return {};
    bool okW = false;
    bool okH = false;
    const int w = parts.first().toInt(&okW);
    const int h = parts.last().toInt(&okH);
    if (!okW || !okH || w <= 0 || h <= 0 || w > 4096 || h > 4096)
        return {};
    return {w, h};
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s <input.svg> <output.png|output.ico> <size>...\n", argv[0]);
        return 2;
    }
    const QString input = QString::fromLocal8Bit(argv[1]);
    const QString output = QString::fromLocal8Bit(argv[2]);

    QSvgRenderer svg(input);
    if (!svg.isValid()) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }

    QList<QImage> images;
    for (int i = 3; i < argc; ++i) {
        const QSize size = parseSize(QString::fromLocal8Bit(argv[i]));
        if (!size.isValid()) {
            std::fprintf(stderr, "bad size %s\n", argv[i]);
            return 2;
        }
        images.append(render(svg, size));
    }

    const bool ico = output.endsWith(QLatin1String(".ico"), Qt::CaseInsensitive);
    if (!ico && images.size() != 1) {
        std::fprintf(stderr, "a PNG takes exactly one size\n");
        return 2;
    }
    QFile file(output);
    if (!file.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    const QByteArray bytes = ico ? icoBytes(images) : pngBytes(images.first());
    return file.write(bytes) == bytes.size() ? 0 : 1;
}
