#include "parameterdialog.h"

#include "resource.h"
#include "simulation.h"

namespace {

// Each edit and the form field it shows, in the form's order.
struct FormField {
    int control;
    char (ParameterForm::*text)[FORM_TEXT_SIZE];
};

constexpr FormField FORM_FIELDS[] = {
    {IDC_PARTICLE_COUNT, &ParameterForm::count}, {IDC_GRAVITY, &ParameterForm::gravity},
    {IDC_DENSITY, &ParameterForm::density},      {IDC_MEAN_RADIUS, &ParameterForm::radius},
    {IDC_MEAN_SPEED, &ParameterForm::speed},     {IDC_SPEED_SPREAD, &ParameterForm::spread},
    {IDC_DRAW_SCALE, &ParameterForm::scale},     {IDC_MERGE, &ParameterForm::merge},
};

void onInitDialog(HWND dialog, const ParameterForm& form) {
    for (const FormField& field : FORM_FIELDS) SetDlgItemTextA(dialog, field.control, form.*field.text);
}

void onOk(HWND dialog, ParameterForm& form) {
    // Texts longer than the form's fields are cut by the read.
    for (const FormField& field : FORM_FIELDS) GetDlgItemTextA(dialog, field.control, form.*field.text, FORM_TEXT_SIZE);
    applyParameterForm(form);
    EndDialog(dialog, IDOK);
}

}  // namespace

INT_PTR CALLBACK parameterDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
    ParameterForm form = formatParameterForm();
    switch (message) {
    case WM_INITDIALOG:
        onInitDialog(dialog, form);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            onOk(dialog, form);
            return FALSE;
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            return FALSE;
        default:
            return FALSE;
        }
    default:
        return FALSE;
    }
}
