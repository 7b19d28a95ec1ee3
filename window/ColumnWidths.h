#pragma once

// Widths of the four columns of the remote file list (Name, Type, Size, Modified Time).
struct ColumnWidths
{
    int name = 0;
    int type = 0;
    int size = 0;
    int modified = 0;

    friend bool operator==(const ColumnWidths &a, const ColumnWidths &b)
    {
        return a.name == b.name && a.type == b.type && a.size == b.size && a.modified == b.modified;
    }
};

// The widths for a list view viewWidth pixels wide (frame included). From 580 pixels on the
// three fixed columns keep 340 pixels and Name takes the rest less 40; narrower views shrink
// the fixed columns in proportion while Name keeps 200. A view of 40 pixels or less has not
// been laid out yet, so Name gets its width for the default window size.
ColumnWidths columnWidthsForViewWidth(int viewWidth);
