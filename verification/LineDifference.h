#pragma once

#include <QByteArray>
#include <QString>

// Where two texts part: the first line, counted from 1, whose bytes differ, and that line of
// each text (without its line end). A text that has ended there gives a null line. line is 0
// when the texts are the same.
struct LineDifference
{
    int line = 0;
    QString first;
    QString second;

    static LineDifference between(const QByteArray &first, const QByteArray &second);
    // Text as a program or a note is: valid UTF-8 without zero bytes.
    static bool isText(const QByteArray &data);
};
