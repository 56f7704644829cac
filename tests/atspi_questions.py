"""Every question a reader can put to the lists' table, table-cell and text interfaces (and the
few indexed ones of the others), with the arguments as indexes to vary. Shared by the reader
(tests/atspi_reader.py) and the soak (bench/atspi_soak.py)."""
import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

SCREEN = Atspi.CoordType.SCREEN
CHAR = Atspi.TextGranularity.CHAR
BOUNDARY = Atspi.TextBoundaryType.CHAR
NO_CLIP = Atspi.TextClipType.NONE
ANYWHERE = Atspi.ScrollType.ANYWHERE

# (interface, method, arguments): "i" an index, varied; anything else is passed as it is.
TABLE = [(Atspi.Table, name, args) for name, args in [
    ("get_n_rows", ()), ("get_n_columns", ()), ("get_caption", ()), ("get_summary", ()),
    ("get_n_selected_rows", ()), ("get_n_selected_columns", ()),
    ("get_selected_rows", ()), ("get_selected_columns", ()),
    ("get_accessible_at", "ii"), ("get_index_at", "ii"),
    ("get_row_at_index", "i"), ("get_column_at_index", "i"),
    ("get_row_description", "i"), ("get_column_description", "i"),
    ("get_row_extent_at", "ii"), ("get_column_extent_at", "ii"),
    ("get_row_header", "i"), ("get_column_header", "i"),
    ("is_row_selected", "i"), ("is_column_selected", "i"), ("is_selected", "ii"),
    ("add_row_selection", "i"), ("add_column_selection", "i"),
    ("remove_row_selection", "i"), ("remove_column_selection", "i"),
    ("get_row_column_extents_at_index", "i")]]
TABLE_CELL = [(Atspi.TableCell, name, ()) for name in [
    "get_column_header_cells", "get_column_span", "get_position", "get_row_column_span",
    "get_row_header_cells", "get_row_span", "get_table"]]
TEXT = [(Atspi.Text, name, args) for name, args in [
    ("get_character_count", ()), ("get_caret_offset", ()), ("get_text", "ii"),
    ("get_string_at_offset", ("i", CHAR)), ("get_text_before_offset", ("i", BOUNDARY)),
    ("get_text_at_offset", ("i", BOUNDARY)), ("get_text_after_offset", ("i", BOUNDARY)),
    ("get_character_at_offset", "i"), ("get_text_attributes", "i"),
    ("get_attribute_run", ("i", True)), ("get_text_attribute_value", ("i", "weight")),
    ("get_default_attributes", ()), ("get_character_extents", ("i", SCREEN)),
    ("get_offset_at_point", ("i", "i", SCREEN)), ("get_range_extents", ("i", "i", SCREEN)),
    ("get_bounded_ranges", ("i", "i", "i", "i", SCREEN, NO_CLIP, NO_CLIP)),
    ("get_n_selections", ()), ("get_selection", "i"), ("add_selection", "ii"),
    ("remove_selection", "i"), ("set_selection", "iii"), ("set_caret_offset", "i"),
    ("scroll_substring_to", ("i", "i", ANYWHERE)),
    ("scroll_substring_to_point", ("i", "i", SCREEN, "i", "i"))]]
OTHERS = [(Atspi.Accessible, "get_child_at_index", "i"),
          (Atspi.Component, "get_accessible_at_point", ("i", "i", SCREEN)),
          (Atspi.Action, "get_action_name", "i"), (Atspi.Action, "get_action_description", "i"),
          (Atspi.Action, "get_key_binding", "i")]
# Only a table is asked table questions: Qt's bridge takes one put to a row for granted.
FOR_LISTS = TABLE + TABLE_CELL + TEXT + OTHERS
FOR_ROWS = TABLE_CELL + TEXT + OTHERS


def edges(count):
    """The indexes just outside a list of count rows, and the ends of the range."""
    return [-2**31, -1, count, count + 1, 2**31 - 1]


def variants(args, values):
    """Each value in turn at each index argument, the others 0."""
    slots = [k for k, a in enumerate(args) if a == "i"]
    if not slots:
        yield tuple(args)
    for slot in slots:
        for value in values:
            yield tuple(value if k == slot else (0 if a == "i" else a)
                        for k, a in enumerate(args))


def plain(value):
    """An answer as JSON holds it."""
    if value is None or isinstance(value, (bool, int, float, str)):
        return value
    if isinstance(value, Atspi.Accessible):
        return "%s %s" % (value.get_role_name(), value.get_name())
    if isinstance(value, (list, tuple)):
        return [plain(v) for v in value]
    return type(value).__name__


def ask(acc, question, args):
    """The answer, or "error" when the window refuses the question; a fault of the asking
    itself (a wrong argument type) raises."""
    interface, name, _ = question
    try:
        return plain(getattr(interface, name)(acc, *args))
    except GLib.Error:
        return "error"
