// Replaced by the transfer workflows.
