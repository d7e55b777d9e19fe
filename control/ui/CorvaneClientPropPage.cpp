// The property page: a grid of label, field and message rows in the fields'
// exchange order, a notice shown while the control is started, and the reset
// button. Values travel between fields and control by property name.

#include "control/ui/CorvaneClientPropPage.h"

#include <string>
#include <vector>

#include "control/ui/FieldValidator.h"
#include "control/ui/PropertyFields.h"

using Corvane::Control::FieldKind;
using Corvane::Control::FieldValidator;
using Corvane::Control::PropertyField;
using Corvane::Control::PropertyFields;

namespace {

// One field's widgets. `edited` is set by the person's edits and cleared when
// the field is loaded from the control.
struct FieldRow {
  const PropertyField* field;
  GtkWidget* input;
  GtkWidget* message;
  bool edited;
};

// The C++ side of a page, made in _init and deleted in finalize.
struct PageState {
  std::vector<FieldRow> rows;
};

}  // namespace

struct _CorvaneClientPropPage {
  GtkWidget parent_instance;
  CorvaneClientCtrl* control;
  GtkWidget* content;
  GtkWidget* notice;
  GtkWidget* reset;
  gulong notify_handler;
  gboolean loading;
  gboolean started;
  PageState* state;
};

G_DEFINE_TYPE(CorvaneClientPropPage, corvane_client_prop_page, GTK_TYPE_WIDGET)

namespace {

const char kStartedNotice[] =
    "The control is started: its properties are shown read-only until it is stopped.";

std::string FieldText(CorvaneClientPropPage* self, const PropertyField& field) {
  if (field.kind == FieldKind::kInteger) {
    int value = 0;
    g_object_get(self->control, field.property, &value, nullptr);
    return std::to_string(value);
  }
  gchar* value = nullptr;
  g_object_get(self->control, field.property, &value, nullptr);
  std::string text = value ? value : "";
  g_free(value);
  return text;
}

void ShowMessage(FieldRow& row, const std::string& message) {
  gtk_label_set_text(GTK_LABEL(row.message), message.c_str());
  gtk_widget_set_visible(row.message, !message.empty());
  if (message.empty()) {
    gtk_widget_remove_css_class(row.input, "error");
  } else {
    gtk_widget_add_css_class(row.input, "error");
  }
}

// Shows the control's value in `row`, dropping any edit and message.
void Load(CorvaneClientPropPage* self, FieldRow& row) {
  self->loading = TRUE;
  if (row.field->kind == FieldKind::kCheckBox) {
    gboolean value = FALSE;
    g_object_get(self->control, row.field->property, &value, nullptr);
    gtk_check_button_set_active(GTK_CHECK_BUTTON(row.input), value);
  } else {
    gtk_editable_set_text(GTK_EDITABLE(row.input), FieldText(self, *row.field).c_str());
  }
  self->loading = FALSE;
  row.edited = false;
  ShowMessage(row, std::string());
}

void ShowStarted(CorvaneClientPropPage* self, gboolean started) {
  self->started = started;
  gtk_widget_set_visible(self->notice, started);
  gtk_widget_set_sensitive(self->reset, !started);
  for (FieldRow& row : self->state->rows) {
    if (row.field->kind == FieldKind::kCheckBox) {
      gtk_widget_set_sensitive(row.input, !started);
    } else {
      gtk_editable_set_editable(GTK_EDITABLE(row.input), !started);
    }
  }
}

void OnEdited(GtkWidget* input, gpointer data) {
  auto* self = CORVANE_CLIENT_PROP_PAGE(data);
  if (self->loading) return;
  for (FieldRow& row : self->state->rows) {
    if (row.input == input) row.edited = true;
  }
}

// A property changed on the control (by the page or by the host): fields the
// person has not touched follow it; a control started or stopped turns the
// page read-only or editable.
void OnControlNotify(GObject*, GParamSpec* pspec, gpointer data) {
  auto* self = CORVANE_CLIENT_PROP_PAGE(data);
  if (g_strcmp0(g_param_spec_get_name(pspec), "started") == 0) {
    corvane_client_prop_page_refresh(self);
    return;
  }
  for (FieldRow& row : self->state->rows) {
    if (!row.edited && g_strcmp0(row.field->property, g_param_spec_get_name(pspec)) == 0) {
      Load(self, row);
    }
  }
}

void OnReset(GtkButton*, gpointer data) {
  corvane_client_prop_page_reset_to_defaults(CORVANE_CLIENT_PROP_PAGE(data));
}

void OnMap(GtkWidget* widget, gpointer) {
  corvane_client_prop_page_refresh(CORVANE_CLIENT_PROP_PAGE(widget));
}

GtkWidget* NewLabel(const char* text, float xalign) {
  GtkWidget* label = gtk_label_new(text);
  gtk_label_set_xalign(GTK_LABEL(label), xalign);
  return label;
}

void Build(CorvaneClientPropPage* self) {
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
  gtk_widget_set_margin_top(box, 12);
  gtk_widget_set_margin_bottom(box, 12);
  gtk_widget_set_margin_start(box, 12);
  gtk_widget_set_margin_end(box, 12);

  self->notice = NewLabel(kStartedNotice, 0.0f);
  gtk_label_set_wrap(GTK_LABEL(self->notice), TRUE);
  gtk_label_set_max_width_chars(GTK_LABEL(self->notice), 50);
  gtk_widget_add_css_class(self->notice, "warning");
  gtk_widget_set_visible(self->notice, FALSE);
  gtk_box_append(GTK_BOX(box), self->notice);

  GtkWidget* grid = gtk_grid_new();
  gtk_grid_set_row_spacing(GTK_GRID(grid), 6);
  gtk_grid_set_column_spacing(GTK_GRID(grid), 12);
  int line = 0;
  for (const PropertyField& field : PropertyFields()) {
    FieldRow row{&field, nullptr, nullptr, false};
    if (field.kind == FieldKind::kCheckBox) {
      row.input = gtk_check_button_new_with_label(field.label);
      g_signal_connect(row.input, "toggled", G_CALLBACK(OnEdited), self);
    } else {
      GtkWidget* label = NewLabel(field.label, 1.0f);
      gtk_grid_attach(GTK_GRID(grid), label, 0, line, 1, 1);
      row.input = gtk_entry_new();
      gtk_entry_set_activates_default(GTK_ENTRY(row.input), TRUE);
      if (field.kind == FieldKind::kInteger) {
        gtk_editable_set_width_chars(GTK_EDITABLE(row.input), 10);
        gtk_entry_set_input_purpose(GTK_ENTRY(row.input), GTK_INPUT_PURPOSE_DIGITS);
        gtk_widget_set_halign(row.input, GTK_ALIGN_START);
      } else {
        gtk_editable_set_width_chars(GTK_EDITABLE(row.input), 28);
        gtk_widget_set_hexpand(row.input, TRUE);
      }
      gtk_label_set_mnemonic_widget(GTK_LABEL(label), row.input);
      gtk_accessible_update_relation(GTK_ACCESSIBLE(row.input), GTK_ACCESSIBLE_RELATION_LABELLED_BY,
                                     label, nullptr, -1);
      g_signal_connect(row.input, "changed", G_CALLBACK(OnEdited), self);
    }
    gtk_widget_set_name(row.input, std::to_string(field.controlId).c_str());
    gtk_grid_attach(GTK_GRID(grid), row.input, 1, line, 1, 1);
    row.message = NewLabel("", 0.0f);
    gtk_widget_add_css_class(row.message, "error");
    gtk_widget_set_visible(row.message, FALSE);
    gtk_grid_attach(GTK_GRID(grid), row.message, 2, line, 1, 1);
    self->state->rows.push_back(row);
    ++line;
  }
  gtk_box_append(GTK_BOX(box), grid);

  self->reset = gtk_button_new_with_label("Reset to Defaults");
  gtk_widget_set_halign(self->reset, GTK_ALIGN_START);
  g_signal_connect(self->reset, "clicked", G_CALLBACK(OnReset), self);
  gtk_box_append(GTK_BOX(box), self->reset);

  self->content = box;
  gtk_widget_set_parent(box, GTK_WIDGET(self));
}

void Dispose(GObject* object) {
  auto* self = CORVANE_CLIENT_PROP_PAGE(object);
  if (self->control && self->notify_handler) {
    g_signal_handler_disconnect(self->control, self->notify_handler);
    self->notify_handler = 0;
  }
  g_clear_object(&self->control);
  g_clear_pointer(&self->content, gtk_widget_unparent);
  G_OBJECT_CLASS(corvane_client_prop_page_parent_class)->dispose(object);
}

void Finalize(GObject* object) {
  auto* self = CORVANE_CLIENT_PROP_PAGE(object);
  delete self->state;
  self->state = nullptr;
  G_OBJECT_CLASS(corvane_client_prop_page_parent_class)->finalize(object);
}

}  // namespace

static void corvane_client_prop_page_class_init(CorvaneClientPropPageClass* klass) {
  GObjectClass* object_class = G_OBJECT_CLASS(klass);
  object_class->dispose = Dispose;
  object_class->finalize = Finalize;
  gtk_widget_class_set_layout_manager_type(GTK_WIDGET_CLASS(klass), GTK_TYPE_BIN_LAYOUT);
  gtk_widget_class_set_css_name(GTK_WIDGET_CLASS(klass), "corvane-client-prop-page");
}

static void corvane_client_prop_page_init(CorvaneClientPropPage* self) {
  self->state = new PageState();
  Build(self);
  g_signal_connect(self, "map", G_CALLBACK(OnMap), nullptr);
}

GtkWidget* corvane_client_prop_page_new(CorvaneClientCtrl* control) {
  g_return_val_if_fail(CORVANE_CLIENT_IS_CTRL(control), nullptr);
  auto* self = CORVANE_CLIENT_PROP_PAGE(g_object_new(CORVANE_CLIENT_TYPE_PROP_PAGE, nullptr));
  self->control = CORVANE_CLIENT_CTRL(g_object_ref(control));
  self->notify_handler =
      g_signal_connect(control, "notify", G_CALLBACK(OnControlNotify), self);
  for (FieldRow& row : self->state->rows) Load(self, row);
  ShowStarted(self, corvane_client_ctrl_get_started(control));
  return GTK_WIDGET(self);
}

CorvaneClientCtrl* corvane_client_prop_page_get_control(CorvaneClientPropPage* self) {
  g_return_val_if_fail(CORVANE_CLIENT_IS_PROP_PAGE(self), nullptr);
  return self->control;
}

void corvane_client_prop_page_refresh(CorvaneClientPropPage* self) {
  g_return_if_fail(CORVANE_CLIENT_IS_PROP_PAGE(self));
  if (!self->control) return;
  const gboolean started = corvane_client_ctrl_get_started(self->control);
  for (FieldRow& row : self->state->rows) {
    // A started control's values are what counts: edits cannot be applied.
    if (!row.edited || started) Load(self, row);
  }
  ShowStarted(self, started);
}

gboolean corvane_client_prop_page_apply(CorvaneClientPropPage* self) {
  g_return_val_if_fail(CORVANE_CLIENT_IS_PROP_PAGE(self), FALSE);
  if (!self->control) return FALSE;
  if (corvane_client_ctrl_get_started(self->control)) {
    corvane_client_prop_page_refresh(self);
    return TRUE;
  }
  ShowStarted(self, FALSE);

  // Every field is checked, so that all refusals show at once; the first
  // takes the focus. Nothing is written unless all pass.
  std::vector<int> values(self->state->rows.size(), 0);
  GtkWidget* first_refused = nullptr;
  for (std::size_t i = 0; i < self->state->rows.size(); ++i) {
    FieldRow& row = self->state->rows[i];
    if (row.field->kind != FieldKind::kInteger) continue;
    const std::string message =
        FieldValidator(row.field->minimum, row.field->maximum)
            .Check(gtk_editable_get_text(GTK_EDITABLE(row.input)), values[i]);
    ShowMessage(row, message);
    if (!message.empty() && !first_refused) first_refused = row.input;
  }
  if (first_refused) {
    gtk_widget_grab_focus(first_refused);
    return FALSE;
  }

  // Only changed values are written, so an unchanged page leaves the
  // control unmodified.
  for (std::size_t i = 0; i < self->state->rows.size(); ++i) {
    FieldRow& row = self->state->rows[i];
    const char* name = row.field->property;
    switch (row.field->kind) {
      case FieldKind::kInteger: {
        int current = 0;
        g_object_get(self->control, name, &current, nullptr);
        if (current != values[i]) g_object_set(self->control, name, values[i], nullptr);
        break;
      }
      case FieldKind::kCheckBox: {
        gboolean current = FALSE;
        g_object_get(self->control, name, &current, nullptr);
        const gboolean wanted = gtk_check_button_get_active(GTK_CHECK_BUTTON(row.input));
        if (current != wanted) g_object_set(self->control, name, wanted, nullptr);
        break;
      }
      case FieldKind::kText: {
        const char* wanted = gtk_editable_get_text(GTK_EDITABLE(row.input));
        if (FieldText(self, *row.field) != wanted) {
          g_object_set(self->control, name, wanted, nullptr);
        }
        break;
      }
    }
  }
  for (FieldRow& row : self->state->rows) Load(self, row);
  return TRUE;
}

void corvane_client_prop_page_reset_to_defaults(CorvaneClientPropPage* self) {
  g_return_if_fail(CORVANE_CLIENT_IS_PROP_PAGE(self));
  if (!self->control) return;
  corvane_client_ctrl_reset_properties(self->control);
  for (FieldRow& row : self->state->rows) Load(self, row);
  ShowStarted(self, corvane_client_ctrl_get_started(self->control));
}
