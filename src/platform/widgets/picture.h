// The picture control: a bitmap as a label shows it, or a vector drawing drawn afresh for
// the screen's pixel density, so that it stays sharp at every scale.
#pragma once

#include <QLabel>
#include <QPixmap>

class QSvgRenderer;

class Picture : public QLabel {
    Q_OBJECT

  public:
    explicit Picture(QWidget *parent = nullptr);

    // Shows the drawing of an SVG file in place of any bitmap, stretched over the control
    // as a bitmap with scaledContents is; false (and nothing shown) when it is no drawing.
    bool ShowDrawing(const QString &path);
    // Shows nothing, neither drawing nor bitmap.
    void ClearPicture();
    bool HasDrawing() const;

  protected:
    void paintEvent(QPaintEvent *event) override;

  private:
    QSvgRenderer *drawing_;
    QPixmap rendered_; // the drawing at the size and pixel density it was last painted at
};
