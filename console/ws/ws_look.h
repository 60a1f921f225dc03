// SPDX-License-Identifier: MIT
// How a dialog template looks on GTK: a style sheet scoped to the template
// dialogs (compact entries and buttons, readable disabled text) and one
// uniform scale factor, so that every text is whole and the template keeps
// its proportions whatever the font.
#pragma once

class wxDialog;

// Once per process, after the toolkit is up.
void InstallTemplateStyleSheet();

// After a template is loaded: tags the dialog for the style sheet, then
// scales every child rectangle and the client size by the smallest factor
// (at least 1) at which each control's needs fit. Returns the factor.
double ApplyTemplateLook(wxDialog *dialog);
