#include "Anchors.h"

#include <QEvent>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QWidget>

#include <utility>

namespace noggix
{
namespace
{

enum Edge { Left = 1, Top = 2, Right = 4, Bottom = 8 };

struct Placement {
    QPointer<QWidget> widget;
    QString align; // empty when the control is anchored instead
    int anchors;   // Edge bits
    QRect design;  // geometry in the layout file
};

int parseAnchors(const QString &text)
{
    int edges = 0;
    for (const QString &part : text.split(u',', Qt::SkipEmptyParts)) {
        const QString edge = part.trimmed();
        if (edge == u"left")
            edges |= Left;
        else if (edge == u"top")
            edges |= Top;
        else if (edge == u"right")
            edges |= Right;
        else if (edge == u"bottom")
            edges |= Bottom;
    }
    return edges;
}

// One anchor keeper per parent that has managed children; it lives as the parent's child.
class AnchorKeeper : public QObject
{
public:
    AnchorKeeper(QWidget *parent) : QObject(parent), parent_(parent), design_(parent->size())
    {
        parent->installEventFilter(this);
    }

    void add(const Placement &placement) { children_.append(placement); }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == parent_ && event->type() == QEvent::Resize)
            place();
        return false;
    }

    void place()
    {
        QRect rest = parent_->rect();
        for (const char *side : {"top", "bottom", "left", "right", "client"})
            for (const Placement &p : std::as_const(children_))
                if (p.widget && p.align == QLatin1String(side))
                    p.widget->setGeometry(takeAligned(rest, p));

        const int dw = parent_->width() - design_.width();
        const int dh = parent_->height() - design_.height();
        for (const Placement &p : std::as_const(children_))
            if (p.widget && p.align.isEmpty())
                p.widget->setGeometry(anchored(p, dw, dh));
    }

private:
    static QRect takeAligned(QRect &rest, const Placement &p)
    {
        QRect r = rest;
        if (p.align == u"top") {
            r.setHeight(p.design.height());
            rest.setTop(r.bottom() + 1);
        } else if (p.align == u"bottom") {
            r.setTop(rest.bottom() + 1 - p.design.height());
            rest.setBottom(r.top() - 1);
        } else if (p.align == u"left") {
            r.setWidth(p.design.width());
            rest.setLeft(r.right() + 1);
        } else if (p.align == u"right") {
            r.setLeft(rest.right() + 1 - p.design.width());
            rest.setRight(r.left() - 1);
        }
        return r;
    }

    static QRect anchored(const Placement &p, int dw, int dh)
    {
        QRect r = p.design;
        if (p.anchors & Right) {
            if (p.anchors & Left)
                r.setWidth(r.width() + dw);
            else
                r.moveLeft(r.left() + dw);
        }
        if (p.anchors & Bottom) {
            if (p.anchors & Top)
                r.setHeight(r.height() + dh);
            else
                r.moveTop(r.top() + dh);
        }
        return r;
    }

    QWidget *parent_;
    QSize design_;
    QList<Placement> children_;
};

} // namespace

void installAnchors(QWidget *form)
{
    QHash<QWidget *, AnchorKeeper *> keepers;
    const QList<QWidget *> widgets = form->findChildren<QWidget *>();
    for (QWidget *w : widgets) {
        const QString align = w->property("align").toString();
        const int anchors = parseAnchors(w->property("anchors").toString());
        if (align.isEmpty() && (anchors == 0 || anchors == (Left | Top)))
            continue;
        QWidget *parent = w->parentWidget();
        AnchorKeeper *&keeper = keepers[parent];
        if (!keeper)
            keeper = new AnchorKeeper(parent);
        keeper->add({w, align, anchors, w->geometry()});
    }
}

} // namespace noggix
