// Writes a picture as plain pixels (binary PPM), for the splash: read from
// the program, they cost a tenth of what decoding the PNG does, where every
// millisecond before the first window counts.
//   zhiwei-write-pixels IN.png OUT.ppm
#include <QImage>

#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: zhiwei-write-pixels IN.png OUT.ppm\n");
        return 2;
    }
    const QImage picture(QString::fromLocal8Bit(argv[1]), "png");
    if (picture.isNull() || picture.hasAlphaChannel() ||
        !picture.save(QString::fromLocal8Bit(argv[2]), "ppm")) {
        std::fprintf(stderr, "zhiwei-write-pixels: cannot write %s as plain pixels\n", argv[1]);
        return 1;
    }
    return 0;
}
