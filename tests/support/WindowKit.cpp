#include "WindowKit.h"

#include "app/Form1.h"
#include "platform/TextBox.h"

#include <QLabel>

#include <sys/resource.h>

PanelSnapshot PanelSnapshot::of(const Form1 &form)
{
    PanelSnapshot state;
    for (QLabel *label : {form.Label5, form.Label6, form.Label7, form.Label8, form.Label9,
                          form.Label10, form.Label11, form.Label12})
        state.captions << label->text();
    using PageParser::Aspect;
    for (Aspect aspect : {Aspect::Overall, Aspect::Love, Aspect::Work, Aspect::Finance}) {
        for (QLabel *star : form.starRow(aspect))
            state.stars << star->isVisible();
    }
    state.picture = form.Image21->pixmap().toImage();
    state.pageText = form.Text1->text();
    return state;
}

double processorSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}
