helper_from = "folder"
