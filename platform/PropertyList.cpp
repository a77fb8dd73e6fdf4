// PropertyList
