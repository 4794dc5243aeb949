// Qt view (placeholder until the view lands).
